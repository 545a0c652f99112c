// Asks what a headerless RAW grid cannot tell: its width and height, and for 16-bit
// files the heights its lowest and highest steps stand for.
#pragma once

#include <QString>
#include <cstdint>
#include <optional>

#include "host/io/heightmap_io.h"

class QWidget;

namespace host {

// The fields start from the grid closest to square; a side typed that divides the
// samples sets the other. OK is offered only while width x height is the number of
// samples. Nothing when the user cancels.
std::optional<RawOptions> AskRawSize(QWidget* parent, const QString& fileName, uint64_t samples,
                                     bool sixteenBit);

}  // namespace host
