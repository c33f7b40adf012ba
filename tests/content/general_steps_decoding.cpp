// The decoder once more, without its fast steps and under names of its own (general*), for the
// test that holds the fast steps to the general ones.
#define FM_GENERAL_STEPS_ONLY 1
#define textDecodingPlain generalStepsDecoding
#define decodeEntities generalDecodeEntities
#define descriptionToText generalDescriptionToText
#define titleToText generalTitleToText
#include "content/text_decoding.cpp"
