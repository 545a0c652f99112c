// What the window says about the terrain: a height with the precision the data has and
// its unit, the cell under the cursor, and the legend with the heights' histogram.
#pragma once

#include <QString>
#include <QTimer>
#include <QWidget>
#include <optional>
#include <utility>
#include <vector>

#include "host/model/landscape.h"

namespace host {

// The unit heights are in: the band's own ("m", "ft"), else that of the coordinate
// system's axes when it is projected; empty when nothing says.
QString HeightUnit(const Landscape& land);
// A height as the data holds it: in whole steps of the file's scale when it had one
// (an Int16 DEM in metres shows whole metres), else to a float's precision; with the
// unit.
QString HeightText(const Landscape& land, double h);
// The cell at (x, y): cells, map coordinates and the coordinate system's unit when
// georeferenced, and the height or "NoData". Empty outside the grid.
QString CellReadout(const Landscape& land, int32_t x, int32_t y);

// The heights a legend of lo..hi marks: the multiples of a round step (1, 2, 2.5 or 5 times
// a power of ten) within it, four to ten of them, and 0 where sea level splits the range.
std::vector<double> LegendTicks(double lo, double hi);

// The colour ramp of the map with height ticks, and a histogram of the valid heights
// beside it, the water level marked when there is one.
class LegendPanel : public QWidget {
 public:
  static constexpr int kBins = 64;
  explicit LegendPanel(QWidget* parent);
  // colours: the range the map's colours span. The heights are counted once the events
  // waiting (the map's repaint among them) are done, or when asked for; `land` must
  // live until then.
  void Show(const Landscape& land, std::pair<double, double> colours,
            std::optional<double> waterLevel);
  const std::vector<size_t>& Histogram() {
    Count();
    return counts_;
  }
  std::pair<double, double> HistogramRange() {
    Count();
    return range_;
  }

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  // Counts what is left at once / the next slice.
  void Count();
  void CountSlice();
  void Restart();

  const Landscape* land_ = nullptr;  // to count; null: counted
  QTimer slices_;
  size_t next_ = 0;      // the next cell to count
  bool ranging_ = true;  // finding the extremes; then counting
  std::pair<float, float> ends_;
  std::pair<double, double> counting_;  // the extremes the count bins by
  std::vector<size_t> tally_;
  std::vector<size_t> counts_;
  std::pair<double, double> range_{0.0, 0.0};    // the valid heights' extremes
  std::pair<double, double> colours_{0.0, 1.0};  // what the ramp spans
  std::optional<double> water_;
  QString unit_;
};

}  // namespace host
