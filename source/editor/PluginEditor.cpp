#include "editor/PluginEditor.h"
#include "core/PluginProcessor.h"

KestruneEditor::KestruneEditor (KestruneProcessor& p) : GenericAudioProcessorEditor (p) {}
