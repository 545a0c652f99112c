"""Landscape Rovandel in QGIS's Processing toolbox."""


def classFactory(iface):  # noqa: N802 (QGIS's name)
    from .provider import RovandelPlugin
    return RovandelPlugin()
