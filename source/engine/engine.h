/*******************************************************************************
 BEGIN_JUCE_MODULE_DECLARATION

  ID:                 engine
  vendor:             zarnithquorlebrefton
  name:               Kestrune sound engine
  description:        Voices, MIDI handling, expression, synthesis, drone, output stage and reverb.
  license:            AGPLv3
  minimumCppStandard: 17
  dependencies:       juce_audio_basics, samplebank

 END_JUCE_MODULE_DECLARATION
*******************************************************************************/

#pragma once

#include "engine/SoundEngine.h"
