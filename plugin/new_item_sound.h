// The new-items sound: a pass that brings new items (shown ones, not hidden by the filters) for a
// feed whose sound is switched on plays one system sound, a sound alias registered under
// HKCU\AppEvents that the user can change or silence in the control panel's sounds. Nothing plays
// while a full-screen program is in front, and at most one sound a minute. No window is shown.
#pragma once
#include <windows.h>

// The alias under HKCU\AppEvents\Schemes\Apps\.Default, and its label under EventLabels.
extern const wchar_t* const newItemSoundAlias;

// Seams for tests (the test machines have no audio device): plays the alias without waiting (true
// when it played), tells whether a full-screen program is in front, and the clock in milliseconds.
extern bool (*playSoundAlias)(const wchar_t* alias);
extern bool (*fullScreenProgramShown)();
extern DWORD(WINAPI* soundClock)();

// Registers the alias with its label and the system's notification sound, unless the keys are
// there already (the user's choice is never overwritten): when a feed first wants the sound, and
// before it plays. False when the registry refused.
bool registerNewItemSound();
// After a pass reached the window: plays the sound once when a sound-wanting feed's list holds a
// new item, not hidden, that its list at the last look lacked. The first look at a feed only notes
// its list. True when the sound played.
bool soundForNewItems();
// Forgets what was noted, stops a sound still playing and lets winmm go (the plug-in ends).
void releaseNewItemSound();
