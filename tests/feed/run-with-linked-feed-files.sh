#!/bin/bash
# Lays out a feed folder holding links next to the plug-in's own files, as a user or another
# program could leave them, then runs the Windows test program under Wine with the folder (as a
# Windows path) and checks from this side what the program left: the files the links point to
# must be whole, the links may go.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
program=$1
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
mkdir -p "$root/feedmarquee.feeds" "$root/elsewhere"
printf 'my notes\n' > "$root/elsewhere/notes.txt"
ln -s "$root/elsewhere/notes.txt" "$root/feedmarquee.feeds/0123456789abcdef.cache"
ln -s "$root/elsewhere/notes.txt" "$root/feedmarquee.feeds/0123456789abcdef.seen.tmp"
printf 'FeedMarquee headline cache 1\nurl 0\n' > "$root/feedmarquee.feeds/fedcba9876543210.cache"
printf 'FeedMarquee seen keys 1\n' > "$root/feedmarquee.feeds/fedcba9876543210.seen"
printf 'not written by the plug-in\n' > "$root/feedmarquee.feeds/1111111111111111.cache"
FM_LINKED_FOLDER="Z:$root" "$here/../../scripts/wine-run.sh" "$program"
# What the links pointed to is untouched.
[ "$(cat "$root/elsewhere/notes.txt")" = "my notes" ] || { echo "notes.txt was changed or removed" >&2; exit 1; }
