#!/usr/bin/python3
"""README's pictures of the QGIS provider: the Processing toolbox with its algorithms, and
one algorithm's dialog on a DEM. Run under a real X server (scripts/screenshot.sh):

    QGIS_PLUGINPATH=build/qgis xvfb-run -a -s "-screen 0 1280x900x24" \\
        /usr/bin/python3 docs/qgis_screenshot.py DEM OUTPUT_FOLDER
"""

import os
import sys

from qgis.core import QgsApplication, QgsProject, QgsRasterLayer

QgsApplication.setPrefixPath("/usr", True)
app = QgsApplication([], True)
app.initQgis()
sys.path[:0] = ["/usr/share/qgis/python/plugins", os.environ["QGIS_PLUGINPATH"]]
import qgis.utils  # noqa: E402
from qgis.gui import QgsMapCanvas  # noqa: E402

canvas = QgsMapCanvas()


class Window:
    """What the dialogs ask of QGIS's window: its map, and nothing else."""

    def mapCanvas(self):  # noqa: N802
        return canvas

    def __getattr__(self, name):
        return lambda *args, **kwargs: None


qgis.utils.iface = Window()
from processing.core.Processing import Processing  # noqa: E402
from qgis.gui import QgsProcessingToolboxTreeView  # noqa: E402
from landscape_rovandel.provider import RovandelProvider  # noqa: E402

Processing.initialize()
registry = QgsApplication.processingRegistry()
registry.addProvider(RovandelProvider())
dem, folder = sys.argv[1], sys.argv[2]
QgsProject.instance().addMapLayer(QgsRasterLayer(dem, os.path.basename(dem)))


def save(widget, name):
    widget.show()
    for _ in range(20):
        app.processEvents()
    widget.grab().save(os.path.join(folder, name))
    print(os.path.join(folder, name))


toolbox = QgsProcessingToolboxTreeView(None, registry)
toolbox.setHeaderHidden(True)
toolbox.setFilterString("rovandel")
toolbox.expandAll()
toolbox.resize(360, 230)
save(toolbox, "qgis-toolbox.png")

import processing  # noqa: E402

dialog = processing.createAlgorithmDialog("rovandel:glaciate")
dialog.resize(900, 640)
save(dialog, "qgis-algorithm.png")
