/*******************************************************************************
 BEGIN_JUCE_MODULE_DECLARATION

  ID:                 samplebank
  vendor:             zarnithquorlebrefton
  name:               Kestrune sample bank
  description:        The embedded recordings decoded into zones, and the zone lookup.
  license:            AGPLv3
  minimumCppStandard: 17
  dependencies:       juce_audio_formats

 END_JUCE_MODULE_DECLARATION
*******************************************************************************/

#pragma once

#include "samplebank/Bank.h"
#include "samplebank/WavDecoder.h"
