"""The provider: one algorithm per action of the settings schema, and one that applies any
module of the plug-in contract."""

import os

from qgis.core import QgsApplication, QgsProcessingProvider
from qgis.PyQt.QtGui import QIcon

from .algorithms import SCHEMA, ActionAlgorithm, ModuleAlgorithm

HERE = os.path.dirname(__file__)
class RovandelProvider(QgsProcessingProvider):
    def id(self):
        return "rovandel"

    def name(self):
        return SCHEMA["name"]

    def longName(self):  # noqa: N802
        return SCHEMA["name"] + " (kelvamor-host)"

    def icon(self):
        return QIcon(os.path.join(HERE, "icon.svg"))

    def loadAlgorithms(self):  # noqa: N802
        for action in SCHEMA["actions"]:
            self.addAlgorithm(ActionAlgorithm(action))
        self.addAlgorithm(ModuleAlgorithm())

    def defaultRasterFileExtension(self):  # noqa: N802
        return "tif"


class RovandelPlugin:
    """The QGIS plug-in: registers the provider (qgis_process calls initProcessing only)."""

    def __init__(self):
        self.provider = None

    def initProcessing(self):  # noqa: N802
        if self.provider is None:
            self.provider = RovandelProvider()
            QgsApplication.processingRegistry().addProvider(self.provider)

    def initGui(self):  # noqa: N802
        self.initProcessing()

    def unload(self):
        if self.provider is not None:
            QgsApplication.processingRegistry().removeProvider(self.provider)
            self.provider = None
