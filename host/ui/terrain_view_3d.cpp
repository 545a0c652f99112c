#include "host/ui/terrain_view_3d.h"

#include <QOpenGLContext>
#include <algorithm>
#include <cmath>
#include <cstddef>

namespace host {
namespace {

constexpr int kSettleMs = 200;

// Cells become ground (x east, y north, z up, the grid's centre at the origin) by the
// spacing of the cells and the exaggeration; the normal follows from the slopes.
constexpr char kTerrainVertex[] = R"(
attribute vec3 aCell;
attribute vec2 aSlope;
attribute vec4 aColour;
uniform mat4 uViewProjection;
uniform vec3 uScale;
uniform vec3 uCentre;
varying vec3 vNormal;
varying vec4 vColour;
void main() {
  vec3 p = vec3((aCell.x - uCentre.x) * uScale.x, (uCentre.y - aCell.y) * uScale.y,
                (aCell.z - uCentre.z) * uScale.z);
  vNormal = vec3(-aSlope.x * uScale.z / uScale.x, aSlope.y * uScale.z / uScale.y, 1.0);
  vColour = aColour;
  gl_Position = uViewProjection * vec4(p, 1.0);
}
)";

// Lit from the north-west and above, as the map is; slopes away from it keep some light.
constexpr char kTerrainFragment[] = R"(
varying vec3 vNormal;
varying vec4 vColour;
uniform vec3 uLight;
void main() {
  float lit = 0.3 + 0.7 * max(dot(normalize(vNormal), uLight), 0.0);
  gl_FragColor = vec4(vColour.rgb * lit, 1.0);
}
)";

constexpr char kWaterVertex[] = R"(
attribute vec3 aPosition;
uniform mat4 uViewProjection;
void main() { gl_Position = uViewProjection * vec4(aPosition, 1.0); }
)";

constexpr char kWaterFragment[] = R"(
uniform vec4 uColour;
void main() { gl_FragColor = uColour; }
)";

// The same shaders on desktop OpenGL and OpenGL ES.
QString Versioned(const char* source, bool es, bool fragment) {
  QString head = es ? "#version 100\n" : "#version 120\n";
  if (es && fragment) head += "precision mediump float;\n";
  return head + source;
}

}  // namespace

TerrainView3D::TerrainView3D(QWidget* parent) : QOpenGLWidget(parent) {
  setObjectName("View3D");
  setMinimumSize(240, 240);
  setFocusPolicy(Qt::StrongFocus);
  setMouseTracking(true);
  settle_.setSingleShot(true);
  settle_.setInterval(kSettleMs);
  connect(&settle_, &QTimer::timeout, this, [this] { update(); });
}

TerrainView3D::~TerrainView3D() {
  if (!ready_) return;
  makeCurrent();
  for (GpuMesh& gpu : gpu_) {
    gpu.vertices.destroy();
    gpu.indices.destroy();
  }
  doneCurrent();
}

void TerrainView3D::Show(const Landscape& land, std::pair<double, double> range,
                         const ZeroedWeights& selection, std::optional<double> waterLevel,
                         std::optional<std::pair<double, double>> opened) {
  waterLevel_ = waterLevel;
  const Built built{land.width, land.height, range, CellSpacing(land, opened.value_or(range)),
                    !selection.empty()};
  if (!forget_ && built == built_) {
    // The same ground: the changed cells' vertices, uploaded again when next drawn.
    if (!changed_.Empty())
      for (size_t level = 0; level < levels_.size(); ++level) {
        const auto rows = UpdateTerrainMesh(levels_[level], land, range, selection, changed_);
        if (level < gpu_.size())
          gpu_[level].stale = {std::min(gpu_[level].stale.first, rows.first),
                               std::max(gpu_[level].stale.second, rows.second)};
      }
    changed_ = {};
    update();
    return;
  }
  const double extent = Extent();
  built_ = built;
  forget_ = false;
  changed_ = {};
  width_ = land.width;
  height_ = land.height;
  spacing_ = built.spacing;
  middle_ = (range.first + range.second) / 2.0;
  levels_.clear();
  int32_t stride = MeshStride(land.width, land.height, kFinestQuads);
  const int32_t coarsest = MeshStride(land.width, land.height, kMovingQuads);
  for (;; stride *= 2) {
    levels_.push_back(BuildTerrainMesh(land, stride, range, selection));
    if (stride >= coarsest) break;
  }
  uploaded_ = false;
  if (Extent() != extent) ResetCamera();
  update();
}

void TerrainView3D::SetExaggeration(double factor) {
  exaggeration_ = factor;
  update();
}

double TerrainView3D::Extent() const {
  return std::max({width_ * spacing_.first, height_ * spacing_.second, 1.0});
}

void TerrainView3D::ResetCamera() {
  yaw_ = 0.0f;
  pitch_ = 35.0f;
  target_ = QVector3D();
  distance_ = static_cast<float>(1.8 * Extent());
  update();
}

void TerrainView3D::Zoom(double factor) {
  distance_ = static_cast<float>(std::clamp(distance_ / factor, 0.01 * Extent(), 20.0 * Extent()));
  settle_.start();
  update();
}

void TerrainView3D::initializeGL() {
  initializeOpenGLFunctions();
  const bool es = context()->isOpenGLES();
  ready_ =
      terrain_.addShaderFromSourceCode(QOpenGLShader::Vertex,
                                       Versioned(kTerrainVertex, es, false)) &&
      terrain_.addShaderFromSourceCode(QOpenGLShader::Fragment,
                                       Versioned(kTerrainFragment, es, true)) &&
      terrain_.link() &&
      water_.addShaderFromSourceCode(QOpenGLShader::Vertex, Versioned(kWaterVertex, es, false)) &&
      water_.addShaderFromSourceCode(QOpenGLShader::Fragment,
                                     Versioned(kWaterFragment, es, true)) &&
      water_.link();
  if (!ready_) qWarning("The 3D view's shaders did not build: %s", qPrintable(terrain_.log()));
  uploaded_ = false;
}

void TerrainView3D::Upload(const TerrainMesh& mesh, GpuMesh& gpu) {
  if (!gpu.vertices.isCreated()) gpu.vertices.create();
  if (!gpu.indices.isCreated()) gpu.indices.create();
  gpu.vertices.bind();
  gpu.vertices.allocate(mesh.vertices.data(),
                        static_cast<int>(mesh.vertices.size() * sizeof(TerrainVertex)));
  gpu.indices.bind();
  gpu.indices.allocate(mesh.indices.data(),
                       static_cast<int>(mesh.indices.size() * sizeof(uint32_t)));
  gpu.count = static_cast<int>(mesh.indices.size());
  gpu.stale = {mesh.rows, 0};
}

void TerrainView3D::UploadStale(const TerrainMesh& mesh, GpuMesh& gpu) {
  const auto [first, last] = gpu.stale;
  gpu.stale = {mesh.rows, 0};
  if (first >= last) return;
  const auto columns = static_cast<size_t>(mesh.columns);
  gpu.vertices.bind();
  gpu.vertices.write(static_cast<int>(first * columns * sizeof(TerrainVertex)),
                     mesh.vertices.data() + first * columns,
                     static_cast<int>((last - first) * columns * sizeof(TerrainVertex)));
  gpu.vertices.release();
  if (mesh.indices.empty()) return;
  // The triangles of the quads that have a changed vertex at a corner.
  const size_t quadRow = (columns - 1) * 6;
  const auto from = static_cast<size_t>(std::max(first - 1, 0));
  const auto to = static_cast<size_t>(std::min(last, mesh.rows - 1));
  gpu.indices.bind();
  gpu.indices.write(static_cast<int>(from * quadRow * sizeof(uint32_t)),
                    mesh.indices.data() + from * quadRow,
                    static_cast<int>((to - from) * quadRow * sizeof(uint32_t)));
  gpu.indices.release();
}

size_t TerrainView3D::Level() const {
  const size_t coarsest = levels_.size() - 1;
  if (Moving()) return coarsest;
  // The share of the ground in view: all of it, or what the camera's cone takes in at
  // the distance it looks from.
  const double aspect = static_cast<double>(width()) / std::max(height(), 1);
  const double seen =
      2.0 * distance_ * std::tan(kFieldOfView * kPi / 360.0) * std::max(aspect, 1.0);
  const double share = std::pow(std::min(1.0, seen / Extent()), 2.0);
  const double pixels = width() * devicePixelRatio() * height() * devicePixelRatio();
  for (size_t level = 0; level < coarsest; ++level) {
    const TerrainMesh& mesh = levels_[level];
    const double quads = static_cast<double>(mesh.columns - 1) * (mesh.rows - 1);
    if (quads * share <= pixels) return level;
  }
  return coarsest;
}

QMatrix4x4 TerrainView3D::ViewProjection() const {
  const float yaw = yaw_ * kPi / 180.0f;
  const float pitch = pitch_ * kPi / 180.0f;
  const QVector3D eye =
      target_ + distance_ * QVector3D(-std::sin(yaw) * std::cos(pitch),
                                      -std::cos(yaw) * std::cos(pitch), std::sin(pitch));
  QMatrix4x4 projection;
  const float extent = static_cast<float>(Extent());
  projection.perspective(kFieldOfView, static_cast<float>(width()) / std::max(height(), 1),
                         distance_ * 0.01f, distance_ + 4.0f * extent);
  QMatrix4x4 view;
  view.lookAt(eye, target_, QVector3D(0, 0, 1));
  return projection * view;
}

void TerrainView3D::paintGL() {
  // What the overlay's painter may have left set in the last frame.
  glViewport(0, 0, static_cast<GLsizei>(width() * devicePixelRatio()),
             static_cast<GLsizei>(height() * devicePixelRatio()));
  glDisable(GL_SCISSOR_TEST);
  glDisable(GL_BLEND);
  glDisable(GL_CULL_FACE);
  glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
  glDepthMask(GL_TRUE);
  glDepthFunc(GL_LESS);
  glStencilMask(0xFF);
  glClearColor(0.86f, 0.89f, 0.93f, 1.0f);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
  if (!ready_ || levels_.front().vertices.empty()) return;
  if (!uploaded_) {
    gpu_.resize(levels_.size());
    for (size_t level = 0; level < levels_.size(); ++level) Upload(levels_[level], gpu_[level]);
    uploaded_ = true;
  }
  for (size_t level = 0; level < levels_.size(); ++level) UploadStale(levels_[level], gpu_[level]);
  glEnable(GL_DEPTH_TEST);
  // The terrain marks its pixels; the water is drawn on those only, so that a void
  // (NoData) seen from above stays a hole and does not look like water.
  glEnable(GL_STENCIL_TEST);
  glStencilFunc(GL_ALWAYS, 1, 0xFF);
  glStencilOp(GL_KEEP, GL_KEEP, GL_REPLACE);
  const QMatrix4x4 viewProjection = ViewProjection();
  const size_t level = Level();
  drawnStride_ = levels_[level].stride;
  DrawTerrain(gpu_[level], viewProjection);
  glStencilFunc(GL_EQUAL, 1, 0xFF);
  glStencilOp(GL_KEEP, GL_KEEP, GL_KEEP);
  if (waterLevel_) DrawWater(viewProjection);
  glDisable(GL_STENCIL_TEST);
  glDisable(GL_DEPTH_TEST);
  DrawOverlay(viewProjection);
}

void TerrainView3D::DrawTerrain(GpuMesh& gpu, const QMatrix4x4& viewProjection) {
  terrain_.bind();
  terrain_.setUniformValue("uViewProjection", viewProjection);
  terrain_.setUniformValue(
      "uScale", QVector3D(static_cast<float>(spacing_.first), static_cast<float>(spacing_.second),
                          static_cast<float>(exaggeration_)));
  terrain_.setUniformValue(
      "uCentre", QVector3D((width_ - 1) / 2.0f, (height_ - 1) / 2.0f, static_cast<float>(middle_)));
  terrain_.setUniformValue("uLight", QVector3D(-1.0f, 1.0f, 1.4f).normalized());
  gpu.vertices.bind();
  gpu.indices.bind();
  const int cell = terrain_.attributeLocation("aCell");
  const int slope = terrain_.attributeLocation("aSlope");
  const int colour = terrain_.attributeLocation("aColour");
  const auto stride = static_cast<GLsizei>(sizeof(TerrainVertex));
  glEnableVertexAttribArray(cell);
  glEnableVertexAttribArray(slope);
  glEnableVertexAttribArray(colour);
  glVertexAttribPointer(cell, 3, GL_FLOAT, GL_FALSE, stride,
                        reinterpret_cast<const void*>(offsetof(TerrainVertex, x)));
  glVertexAttribPointer(slope, 2, GL_FLOAT, GL_FALSE, stride,
                        reinterpret_cast<const void*>(offsetof(TerrainVertex, dx)));
  glVertexAttribPointer(colour, 4, GL_UNSIGNED_BYTE, GL_TRUE, stride,
                        reinterpret_cast<const void*>(offsetof(TerrainVertex, rgba)));
  glDrawElements(GL_TRIANGLES, gpu.count, GL_UNSIGNED_INT, nullptr);
  glDisableVertexAttribArray(cell);
  glDisableVertexAttribArray(slope);
  glDisableVertexAttribArray(colour);
  gpu.vertices.release();
  gpu.indices.release();
  terrain_.release();
}

void TerrainView3D::DrawWater(const QMatrix4x4& viewProjection) {
  const auto x = static_cast<float>((width_ - 1) / 2.0 * spacing_.first);
  const auto y = static_cast<float>((height_ - 1) / 2.0 * spacing_.second);
  const auto z = static_cast<float>((*waterLevel_ - middle_) * exaggeration_);
  const GLfloat corners[] = {-x, -y, z, x, -y, z, -x, y, z, x, y, z};
  water_.bind();
  water_.setUniformValue("uViewProjection", viewProjection);
  water_.setUniformValue("uColour", QVector4D(0.16f, 0.38f, 0.66f, 0.55f));
  const int position = water_.attributeLocation("aPosition");
  glEnableVertexAttribArray(position);
  glVertexAttribPointer(position, 3, GL_FLOAT, GL_FALSE, 0, corners);
  glEnable(GL_BLEND);
  // The picture stays opaque where the water is: only its colour blends.
  glBlendFuncSeparate(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA, GL_ZERO, GL_ONE);
  glDepthMask(GL_FALSE);
  glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
  glDepthMask(GL_TRUE);
  glDisable(GL_BLEND);
  glDisableVertexAttribArray(position);
  water_.release();
}

}  // namespace host
