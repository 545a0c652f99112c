// The landscape in 3D: a lit mesh coloured as the map is, the selection tinted on it,
// the water level as a translucent plane. A left drag orbits, a right or middle drag
// (or Shift with the left) pans over the ground, the wheel zooms. Large grids are drawn
// from every n-th cell, n chosen at each frame from a pyramid of meshes: at rest about
// one quad a pixel of the view for the ground in view (zooming in brings out detail), a
// coarse mesh while the camera moves or a tool moves over the ground. With a tool of the
// map chosen, the left button uses it on the ground under the cursor (a drag that
// starts off the ground orbits).
#pragma once

#include <QMatrix4x4>
#include <QOpenGLBuffer>
#include <QOpenGLFunctions>
#include <QOpenGLShaderProgram>
#include <QOpenGLWidget>
#include <QPainterPath>
#include <QTimer>
#include <QVector3D>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include "host/model/landscape.h"
#include "host/render/terrain_mesh.h"

namespace host {

class TerrainView3D : public QOpenGLWidget, protected QOpenGLFunctions {
 public:
  // The most quads of the finest mesh (a 4096² grid every 4th cell), and of the one
  // drawn while the camera moves.
  static constexpr size_t kFinestQuads = size_t{1} << 20;
  static constexpr size_t kMovingQuads = size_t{1} << 16;

  explicit TerrainView3D(QWidget* parent);
  ~TerrainView3D() override;

  // Takes the landscape as it is now (the meshes are built here; the landscape is not
  // kept), coloured over `range`. `opened`, the range the landscape was opened with, sets
  // the ground's scale of a grid that says nothing of where it lies, so that edits do
  // not rescale it (`range` when not given). The camera stays where it was unless the
  // ground's size changed. Of a landscape shown before, of the same size and range, only
  // the cells said to have changed are read again.
  void Show(const Landscape& land, std::pair<double, double> range, const ZeroedWeights& selection,
            std::optional<double> waterLevel, std::optional<std::pair<double, double>> opened = {});
  // Only these cells of the heights or of the selection changed since the last Show.
  void Changed(const CellBox& box) { changed_ = changed_.Union(box); }
  // The next Show reads every cell (another landscape, or one changed everywhere).
  void Forget() { forget_ = true; }
  // The cell of the ground under a point of the view (in cells, as the map counts them),
  // if the ground is there.
  std::optional<QPointF> CellAt(QPointF pixel) const;
  // How many times the heights are drawn taller than the ground's scale.
  void SetExaggeration(double factor);
  double Exaggeration() const { return exaggeration_; }
  // Looks at the whole landscape from the south, 35° above the horizon.
  void ResetCamera();
  void Zoom(double factor);

  // The finest mesh, as last built.
  const TerrainMesh& FinestMesh() const { return levels_.front(); }
  // The stride of the mesh the last frame was drawn from.
  int32_t DrawnStride() const { return drawnStride_; }
  // The camera moves, or a tool is dragged or moved over the ground: the coarse mesh is
  // drawn.
  bool Moving() const { return settle_.isActive() || dragging_ || tooling_; }

  // Whether the left button uses a tool of the map rather than orbiting.
  bool tools = false;
  // The cell under the cursor as it moves (`inside` false off the ground).
  std::function<void(QPointF cell, bool inside)> onHover;
  // A tool's press, drag and release on the ground, in cells.
  std::function<void(QPointF cell, Qt::MouseButton button)> onToolPress;
  std::function<void(QPointF cell, Qt::MouseButtons buttons)> onToolMove;
  std::function<void(QPointF cell, Qt::MouseButton button)> onToolRelease;
  // What the tools draw, in cells, laid on the ground.
  std::function<QPainterPath()> overlay;

 protected:
  void initializeGL() override;
  void paintGL() override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void wheelEvent(QWheelEvent* e) override;

 private:
  static constexpr float kFieldOfView = 40.0f;  // degrees, up and down
  static constexpr float kPi = 3.14159265358979f;
  struct GpuMesh {
    QOpenGLBuffer vertices{QOpenGLBuffer::VertexBuffer};
    QOpenGLBuffer indices{QOpenGLBuffer::IndexBuffer};
    int count = 0;
    std::pair<int32_t, int32_t> stale{0, 0};  // rows of vertices to upload again
  };
  void Upload(const TerrainMesh& mesh, GpuMesh& gpu);
  // Only the rows of vertices that changed, and the triangles of their quads.
  void UploadStale(const TerrainMesh& mesh, GpuMesh& gpu);
  // Which of the meshes to draw now.
  size_t Level() const;
  void DrawTerrain(GpuMesh& gpu, const QMatrix4x4& viewProjection);
  void DrawWater(const QMatrix4x4& viewProjection);
  QMatrix4x4 ViewProjection() const;
  // A point of the grid (in cells from the first cell's centre) on the ground, and where
  // it shows in the view (none behind the camera).
  QVector3D Ground(double x, double y) const;
  std::optional<QPointF> Pixel(const QMatrix4x4& viewProjection, const QVector3D& at) const;
  void DrawOverlay(const QMatrix4x4& viewProjection);
  double Extent() const;  // the larger side of the ground, in world units

  std::vector<TerrainMesh> levels_{1};  // finest first, each of twice the stride before
  bool uploaded_ = false;               // whether the GPU holds the meshes as built
  // What the meshes were built from: a landscape of another size, range or scale, or
  // another selection's presence, is built anew.
  struct Built {
    int32_t width = 0, height = 0;
    std::pair<double, double> range, spacing;
    bool selected = false;
    bool operator==(const Built&) const = default;
  } built_;
  CellBox changed_;
  bool forget_ = true;
  std::vector<GpuMesh> gpu_;  // one a level
  int32_t drawnStride_ = 0;
  QOpenGLShaderProgram terrain_;
  QOpenGLShaderProgram water_;
  bool ready_ = false;  // the shaders are built

  int32_t width_ = 0;
  int32_t height_ = 0;
  std::pair<double, double> spacing_{1.0, 1.0};
  double middle_ = 0.0;  // the height at the scene's centre
  std::optional<double> waterLevel_;
  double exaggeration_ = 1.0;

  float yaw_ = 0.0f;  // degrees; 0 looks north
  float pitch_ = 35.0f;
  float distance_ = 1.0f;
  QVector3D target_;
  QPointF last_;
  bool dragging_ = false;
  bool tooling_ = false;  // a tool's drag, since a press on the ground
  QPointF toolCell_;      // the ground it was last over
  QTimer settle_;         // the detailed mesh returns once the wheel has been still a moment
};

}  // namespace host
