#include "host/ui/terrain_info.h"

#include <tbb/blocked_range.h>
#include <tbb/parallel_reduce.h>

#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <limits>

#include "host/io/heightmap_io.h"
#include "host/render/shading.h"

namespace host {
namespace {

// "m" for metres however spelt, "ft" for feet; others as they are.
QString ShortUnit(QString unit) {
  const QString u = unit.trimmed().toLower();
  if (u == "m" || u == "metre" || u == "meter" || u == "metres" || u == "meters") return "m";
  if (u.contains("foot") || u.contains("feet") || u == "ft") return "ft";
  return unit.trimmed();
}

}  // namespace

QString HeightUnit(const Landscape& land) {
  if (!land.geo.unit.empty()) return ShortUnit(QString::fromStdString(land.geo.unit));
  const CrsSummary crs = SummariseCrs(land.geo.projection);
  // A geographic system's unit is the degree of its axes, not of its heights.
  if (crs.unit.empty() || crs.unit.find("degree") != std::string::npos) return {};
  return ShortUnit(QString::fromStdString(crs.unit));
}

QString HeightText(const Landscape& land, double h) {
  QString text;
  if (const auto& kept = land.geo.scaleOffset; kept && kept->first > 0) {
    const int decimals =
        std::clamp(static_cast<int>(std::ceil(-std::log10(kept->first) - 1e-9)), 0, 9);
    text = QString::number(h, 'f', decimals);
  } else {
    text = QString::number(h, 'g', 7);
  }
  const QString unit = HeightUnit(land);
  return unit.isEmpty() ? text : text + " " + unit;
}

QString CellReadout(const Landscape& land, int32_t x, int32_t y) {
  if (x < 0 || y < 0 || x >= land.width || y >= land.height) return {};
  QString text = QString("x %1  y %2").arg(x).arg(y);
  if (const auto& t = land.geo.geoTransform) {
    const double cx = x + 0.5, cy = y + 0.5;
    const CrsSummary crs = SummariseCrs(land.geo.projection);
    const bool degrees = crs.unit.find("degree") != std::string::npos;
    text += QString("  (%1, %2)")
                .arg((*t)[0] + cx * (*t)[1] + cy * (*t)[2], 0, 'f', degrees ? 6 : 3)
                .arg((*t)[3] + cx * (*t)[4] + cy * (*t)[5], 0, 'f', degrees ? 6 : 3);
  }
  const size_t i = static_cast<size_t>(y) * land.width + x;
  text += land.IsNoData(i) ? QString("  NoData")
                           : QString("  height %1").arg(HeightText(land, land.heights[i]));
  return text;
}

namespace {
// How long after an edit the legend starts counting: a frame and a half at 60 Hz.
constexpr int kCountAfterMs = 25;
// Cells counted at a time, between the window's events: a few milliseconds' work.
constexpr size_t kSlice = size_t{1} << 22;
}  // namespace

LegendPanel::LegendPanel(QWidget* parent) : QWidget(parent), counts_(kBins, 0) {
  setObjectName("Legend");
  setMinimumSize(150, 220);
  slices_.setSingleShot(true);
  connect(&slices_, &QTimer::timeout, this, [this] {
    CountSlice();
    if (land_) slices_.start(0);  // the next slice once the events waiting are done
  });
}

void LegendPanel::Show(const Landscape& land, std::pair<double, double> colours,
                       std::optional<double> waterLevel) {
  colours_ = colours;
  water_ = waterLevel;
  unit_ = HeightUnit(land);
  // Counted after the map's repaint (Qt delivers a window's update requests on a 5 ms
  // timer), a slice at a time between the window's events: the counting never delays a
  // picture or a key. A change meanwhile starts it again.
  land_ = &land;
  Restart();
  slices_.start(kCountAfterMs);
}

void LegendPanel::Restart() {
  next_ = 0;
  ranging_ = true;
  ends_ = {std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity()};
}

void LegendPanel::Count() {
  while (land_) CountSlice();
  slices_.stop();
}

void LegendPanel::CountSlice() {
  if (!land_) return;
  const Landscape& land = *land_;
  if (next_ > land.Count()) Restart();  // a smaller grid since: from its start
  const size_t end = std::min(land.Count(), next_ + kSlice);
  if (ranging_) {
    const auto [lo, hi] = land.ValidEnds(next_, end);
    ends_ = {std::min(ends_.first, lo), std::max(ends_.second, hi)};
  } else {
    const double lo = counting_.first, span = counting_.second - counting_.first;
    using Counts = std::vector<size_t>;
    // Counted in stretches on every core, the stretches' counts added.
    const Counts slice = tbb::parallel_reduce(
        tbb::blocked_range<size_t>(next_, end, size_t{1} << 18), Counts(kBins, 0),
        [&](const tbb::blocked_range<size_t>& r, Counts counts) {
          for (size_t i = r.begin(); i < r.end(); ++i) {
            const double h = land.heights[i];
            if (land.IsNoData(i) || !std::isfinite(h)) continue;
            const int bin = span > 0 ? static_cast<int>((h - lo) / span * kBins) : 0;
            ++counts[static_cast<size_t>(std::clamp(bin, 0, kBins - 1))];
          }
          return counts;
        },
        [](Counts a, const Counts& b) {
          for (size_t bin = 0; bin < a.size(); ++bin) a[bin] += b[bin];
          return a;
        });
    for (size_t bin = 0; bin < slice.size(); ++bin) tally_[bin] += slice[bin];
  }
  next_ = end;
  if (next_ < land.Count()) return;
  next_ = 0;
  if (ranging_) {  // the valid heights' extremes known: now their histogram
    ranging_ = false;
    counting_ = ends_.first > ends_.second ? std::pair{0.0, 0.0}
                                           : std::pair<double, double>{ends_.first, ends_.second};
    tally_.assign(kBins, 0);
    return;
  }
  range_ = counting_;
  counts_ = tally_;
  land_ = nullptr;
  update();
}

std::vector<double> LegendTicks(double lo, double hi) {
  std::vector<double> ticks;
  if (!(hi > lo) || !std::isfinite(hi - lo)) return {lo};
  // The smallest round step that gives at most ten ticks.
  double step = std::pow(10.0, std::floor(std::log10((hi - lo) / 10.0)));
  for (const double factor : {1.0, 2.0, 5.0, 10.0}) {
    if ((hi - lo) / (step * factor) <= 10.0) {
      step *= factor;
      break;
    }
  }
  // Four at least: a finer step when the range holds fewer.
  while (std::floor(hi / step) - std::ceil(lo / step) + 1 < 4) step /= 2;
  // Multiples of the step: 0 among them where the range crosses it (never "-0").
  for (double k = std::ceil(lo / step); k * step <= hi; ++k)
    ticks.push_back(k * step == 0.0 ? 0.0 : k * step);
  return ticks;
}

void LegendPanel::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), palette().window());
  const int top = 10, bottom = height() - 10, rampLeft = 8, rampWidth = 18;
  const int rows = std::max(1, bottom - top);
  const double lo = colours_.first, hi = colours_.second;
  auto heightAt = [&](int y) { return hi - (hi - lo) * (y - top) / rows; };
  auto yOf = [&](double h) { return top + static_cast<int>((hi - h) / (hi - lo) * rows); };
  // The ramp, highest at the top.
  for (int y = top; y < bottom; ++y) {
    double r, g, b;
    HeightColour(heightAt(y), lo, hi, r, g, b);
    painter.setPen(QColor(static_cast<int>(r), static_cast<int>(g), static_cast<int>(b)));
    painter.drawLine(rampLeft, y, rampLeft + rampWidth, y);
  }
  // Ticks at round heights, each label clear of its dash and of the panel's edges.
  painter.setPen(palette().color(QPalette::WindowText));
  const QFontMetrics metrics = painter.fontMetrics();
  for (const double t : LegendTicks(lo, hi)) {
    const int y = yOf(t);
    painter.drawLine(rampLeft + rampWidth, y, rampLeft + rampWidth + 4, y);
    const int baseline = std::clamp(y + metrics.ascent() / 2 - 1, metrics.ascent() + 1,
                                    height() - metrics.descent() - 1);
    painter.drawText(rampLeft + rampWidth + 4 + metrics.horizontalAdvance(' ') * 2, baseline,
                     QString::number(t, 'g', 6) + (unit_.isEmpty() ? "" : " " + unit_));
  }
  // The histogram over the valid heights, bars to the right of the labels.
  const int barsLeft = width() / 2 + 20, barsWidth = width() - barsLeft - 6;
  const size_t most = *std::max_element(counts_.begin(), counts_.end());
  const double vlo = range_.first, vhi = range_.second;
  if (most > 0 && barsWidth > 4 && hi > lo) {
    painter.setPen(Qt::NoPen);
    painter.setBrush(palette().color(QPalette::Highlight));
    for (int k = 0; k < kBins; ++k) {
      const double from = vlo + (vhi - vlo) * k / kBins, to = vlo + (vhi - vlo) * (k + 1) / kBins;
      const int y0 = yOf(to), y1 = std::max(yOf(from), y0 + 1);
      const int length = static_cast<int>(static_cast<double>(counts_[k]) / most * barsWidth);
      painter.drawRect(barsLeft, y0, length, y1 - y0);
    }
  }
  if (water_ && *water_ >= lo && *water_ <= hi) {
    painter.setPen(QPen(QColor(30, 90, 200), 2));
    const int y = yOf(*water_);
    painter.drawLine(rampLeft, y, width() - 4, y);
  }
}

}  // namespace host
