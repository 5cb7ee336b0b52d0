#pragma once

#include <cstdint>
#include <type_traits>

// Kinds of message from the processor to the editor.
inline constexpr int32_t kSynthEventNone = 0;         // never pushed; what the queue's slots start as
inline constexpr int32_t kSynthEventNote = 1;         // note on (index note, value velocity) or off (value 0)
inline constexpr int32_t kSynthEventParamChanged = 2; // index engine parameter, value its plain value
inline constexpr int32_t kSynthEventPresetsChanged = 3; // index preset position or -1
inline constexpr int32_t kSynthEventSaveFailed = 4;
inline constexpr int32_t kSynthEventMessageWaiting = 5; // the text waits in PluginProcessor::pendingMessage

// One message from the processor to the editor, copied whole through the event queue.
struct SynthEvent
{
    int32_t kind = kSynthEventNone;
    int32_t index = 0;
    float value = 0.0f;
};

static_assert(sizeof(SynthEvent) == 12, "the event queue carries 12-byte records");
static_assert(std::is_trivially_copyable_v<SynthEvent>);

// Slots of the processor's three queues.
inline constexpr int kEventQueueSlots = 64;
inline constexpr int kCanvasQueueSlots = 8;
inline constexpr int kMixQueueSlots = 32;
