#pragma once

// The host state block: the one serialised form of the instrument's settings (parameter values and
// the canvas of sounds), stored by hosts with their projects and written whole into preset files.
//
// Layout (little-endian, packed): u8 header string count, the header strings (product name, version
// text, each NUL-terminated), u16 parameter count P, P f32 values in engine order, the byte 3, the
// canvas mode byte, then the canvas's node part (NodeCanvasData::writeState).
//
// Blocks come from hosts, from preset files and from users' downloads, so the reader treats them as
// untrusted: every read is bounded by the block's size and no input makes it fail in another way
// than ignoring the block.

#include <cstdint>
#include <string>

#include "engine/sound/InstrumentMap.h"
#include "engine/canvas/NodeMixer.h"
#include "engine/params/Param.h"

inline constexpr const char* kStateProductName = "Quillmoor";
inline constexpr const char* kStateVersionText = "1.2.0";
// Header strings the writer stores: the product name and the version text.
inline constexpr int kStateWrittenHeaderStrings = 2;
// A block announcing more header strings than this is not one of ours.
inline constexpr int kStateMaxHeaderStrings = 8;
// Byte between the values and the mode; written for older readers, never read.
inline constexpr uint8_t kStateSpacerByte = 3;
// Largest parameter count the u16 field can hold.
inline constexpr int kStateMaxParams = 0xFFFF;

enum class StateReadResult
{
    ignored,      // not a state block of ours: nothing changed
    newerVersion, // written by a newer version: nothing changed, the user should be told
    applied,      // parameters and canvas were set from the block
};

struct StateReadOutcome
{
    StateReadResult result = StateReadResult::ignored;
    // The block's version text as stored (at most 64 characters), set for applied and newer blocks.
    std::string savedVersion;
};

// Writes the block for the given parameter values and canvas into buf (cap bytes) and returns its
// length. A null buf, or one too small, makes it a size pass that writes nothing: measure first,
// then write once into a buffer of exactly that length. Node names come from maps (the engine's
// sound list); a node whose sound index lies outside it is stored with the empty name.
int writeStateBlock(unsigned char* buf, int cap, const Param* params, int numParams,
                    const NodeCanvasData& canvas, const InstrumentMap* maps, int mapCount) noexcept;

// Reads a block of size bytes and applies it to params (the engine's table, in index order) and
// canvas: values, mode, nodes (by sound name, looked up in maps), point, triangles. A block that is
// not ours (too short, more than 8 or fewer than 2 header strings, another product name) and a block
// from a newer version change nothing. Parameters newer than the block's version take their
// defaults; stored values that are not finite take the default too, others are clamped into the
// parameter's range. A missing or unknown mode byte keeps the canvas's mode. Allocates only for the
// returned version text.
StateReadOutcome readStateBlock(const unsigned char* buf, int size, Param* params, int numParams,
                                NodeCanvasData& canvas, const InstrumentMap* maps, int mapCount);

// The text shown when a block from a newer version is refused.
std::string newerStateVersionMessage(const std::string& savedVersion);
