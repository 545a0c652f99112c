// Asks what a file cannot tell the window itself: a headerless RAW grid's width and
// height (and for 16-bit files the heights its lowest and highest steps stand for), and
// which band of several holds the heights.
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

// Which of a raster's bands (from 1) to open, `suggested` first; nothing when the user
// cancels.
std::optional<int> AskBand(QWidget* parent, const QString& fileName, int bands, int suggested);

}  // namespace host
