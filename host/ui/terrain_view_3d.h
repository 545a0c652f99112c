// The landscape in 3D: a lit mesh coloured as the map is, the selection tinted on it,
// the water level as a translucent plane. A left drag orbits, a right or middle drag
// (or Shift with the left) pans over the ground, the wheel zooms. Large grids are drawn
// from every n-th cell, n chosen at each frame from a pyramid of meshes: at rest about
// one quad a pixel of the view for the ground in view (zooming in brings out detail), a
// coarse mesh while the camera moves.
#pragma once

#include <QMatrix4x4>
#include <QOpenGLBuffer>
#include <QOpenGLFunctions>
#include <QOpenGLShaderProgram>
#include <QOpenGLWidget>
#include <QTimer>
#include <QVector3D>
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
  // ground's size changed.
  void Show(const Landscape& land, std::pair<double, double> range,
            const std::vector<float>& selection, std::optional<double> waterLevel,
            std::optional<std::pair<double, double>> opened = {});
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
  bool Moving() const { return settle_.isActive() || dragging_; }

 protected:
  void initializeGL() override;
  void paintGL() override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void wheelEvent(QWheelEvent* e) override;

 private:
  struct GpuMesh {
    QOpenGLBuffer vertices{QOpenGLBuffer::VertexBuffer};
    QOpenGLBuffer indices{QOpenGLBuffer::IndexBuffer};
    int count = 0;
  };
  void Upload(const TerrainMesh& mesh, GpuMesh& gpu);
  // Which of the meshes to draw now.
  size_t Level() const;
  void DrawTerrain(GpuMesh& gpu, const QMatrix4x4& viewProjection);
  void DrawWater(const QMatrix4x4& viewProjection);
  QMatrix4x4 ViewProjection() const;
  double Extent() const;  // the larger side of the ground, in world units

  std::vector<TerrainMesh> levels_{1};  // finest first, each of twice the stride before
  bool uploaded_ = false;               // whether the GPU holds the meshes as built
  std::vector<GpuMesh> gpu_;            // one a level
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
  QTimer settle_;  // the detailed mesh returns once the wheel has been still a moment
};

}  // namespace host
