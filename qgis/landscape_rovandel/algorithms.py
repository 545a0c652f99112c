"""The algorithms. Each runs kelvamor-host in batch mode, as QGIS's GDAL algorithms run
GDAL's programs: QGIS is built on Qt 5 and the module on Qt 6, which never share a
process. Every setting of the action is given on the command line, so a run does not
depend on the user's stored settings, and the heights are kelvamor-host's own."""

import json
import math
import os
import re
import shlex
import shutil
import subprocess
import threading
import time

from qgis.core import (QgsProcessing, QgsProcessingAlgorithm, QgsProcessingException,
                       QgsProcessingParameterBand, QgsProcessingParameterBoolean,
                       QgsProcessingParameterEnum, QgsProcessingParameterFile,
                       QgsProcessingParameterMapLayer, QgsProcessingParameterNumber,
                       QgsProcessingParameterRasterDestination,
                       QgsProcessingParameterRasterLayer, QgsProcessingUtils,
                       QgsRasterFileWriter, QgsRasterLayer, QgsVectorLayer, QgsWkbTypes)

HERE = os.path.dirname(__file__)
with open(os.path.join(HERE, "schema.json"), encoding="utf-8") as _file:
    SCHEMA = json.load(_file)
SETTINGS = {s["key"]: s for s in SCHEMA["settings"]}

COMMON_HELP = (
    "WATER_LEVEL: points at or below it are water (NoData cells always are).\n"
    "MASK: only what it selects changes, blended by its weight: a raster of the heightmap's "
    "size (8-bit 0..255, 16-bit 0..65535, float 0..1), or polygons, burnt onto the grid at "
    "cell centres.\n"
    "The result keeps the coordinate system, geotransform, NoData value and the band's "
    "scale and offset, as kelvamor-host writes them (.tif, .asc, .png, .r16, .r32); any "
    "other format is GDAL's copy of kelvamor-host's GeoTIFF.")

# The formats kelvamor-host writes itself; any other is a copy of its GeoTIFF.
HOST_WRITES = ("tif", "tiff", "asc", "png", "r16", "r32")

# How far each stage of a batch run goes in the progress bar.
STAGES = {"reading": (0, 40), "running": (40, 60), "writing": (60, 100)}


def host_program():
    """kelvamor-host: KELVAMOR_HOST, else the one this plug-in was built or installed
    with, else the one on PATH."""
    given = os.environ.get("KELVAMOR_HOST")
    if given:
        return given
    try:
        with open(os.path.join(HERE, "host.txt"), encoding="utf-8") as f:
            recorded = f.read().strip()
    except OSError:
        recorded = ""
    if recorded and os.access(recorded, os.X_OK):
        return recorded
    found = shutil.which("kelvamor-host")
    if found:
        return found
    raise QgsProcessingException("kelvamor-host is not installed (install landscape-rovandel, "
                                 "or set KELVAMOR_HOST to the program)")


def parameter_name(key):
    return SETTINGS[key]["python_name"].upper()


def number_text(value):
    return format(value, ".17g")


class _HostAlgorithm(QgsProcessingAlgorithm):
    INPUT, BAND, MASK, WATER_LEVEL, OUTPUT = "INPUT", "BAND", "MASK", "WATER_LEVEL", "OUTPUT"

    def group(self):
        return "Terrain"

    def groupId(self):  # noqa: N802
        return "terrain"

    def icon(self):
        from qgis.PyQt.QtGui import QIcon
        return QIcon(os.path.join(HERE, "icon.svg"))

    def _add_input(self):
        self.addParameter(QgsProcessingParameterRasterLayer(self.INPUT, "Heightmap"))
        self.addParameter(QgsProcessingParameterBand(self.BAND, "Band", 1, self.INPUT,
                                                    optional=True))

    def _add_rest(self):
        self.addParameter(QgsProcessingParameterNumber(
            self.WATER_LEVEL, "Water level (points at or below it are water)",
            QgsProcessingParameterNumber.Double, optional=True))
        self.addParameter(QgsProcessingParameterMapLayer(
            self.MASK, "Mask (a raster of weights, or polygons)", optional=True,
            types=[QgsProcessing.TypeRaster, QgsProcessing.TypeVectorPolygon]))
        self.addParameter(QgsProcessingParameterRasterDestination(self.OUTPUT, "Result"))

    # What the command line says of the action; the module's own for ModuleAlgorithm.
    def _action_arguments(self, parameters, context):
        return []

    def processAlgorithm(self, parameters, context, feedback):  # noqa: N802
        layer = self.parameterAsRasterLayer(parameters, self.INPUT, context)
        if layer is None:
            raise QgsProcessingException("the heightmap cannot be opened")
        if layer.providerType() != "gdal":
            raise QgsProcessingException(
                f"{layer.name()}: kelvamor-host reads files GDAL opens, not "
                f"{layer.providerType()} layers")
        output = self.parameterAsOutputLayer(parameters, self.OUTPUT, context)
        written, driver = output, None
        extension = os.path.splitext(output)[1].lower().lstrip(".")
        if extension not in HOST_WRITES:
            # Another of GDAL's formats: kelvamor-host writes its GeoTIFF, which GDAL then
            # copies whole (heights, georeferencing, NoData, metadata).
            driver = QgsRasterFileWriter.driverForExtension(extension)
            if not driver:
                raise QgsProcessingException(f"{output}: no GDAL format writes .{extension}")
            written = QgsProcessingUtils.generateTempFilename("heights.tif")
        arguments = [host_program(), "--batch", "--json", "--progress", layer.source(),
                     "-o", written, "--band",
                     str(self.parameterAsInt(parameters, self.BAND, context) or 1)]
        arguments += self._action_arguments(parameters, context)
        if parameters.get(self.WATER_LEVEL) is not None:
            level = self.parameterAsDouble(parameters, self.WATER_LEVEL, context)
            arguments += ["--water-level", number_text(level)]
        mask = self._mask(parameters, layer, context, feedback)
        if mask:
            arguments += ["--mask", mask]
        feedback.pushCommandInfo(" ".join(shlex.quote(a) for a in arguments))
        report = _run(arguments, feedback)
        statistics = report.get("statistics", {})
        if statistics:
            feedback.pushInfo(
                f"{statistics.get('valid', 0)} heights from {statistics.get('minimum')} to "
                f"{statistics.get('maximum')}, {statistics.get('nodata', 0)} NoData cells")
        if driver:
            _copy(written, output, driver, feedback)
        return {self.OUTPUT: output}

    def _mask(self, parameters, heights, context, feedback):
        """The mask as a file kelvamor-host reads: a raster layer's own, or polygons burnt
        (255 inside, 0 outside, at cell centres) onto the heightmap's grid."""
        mask = self.parameterAsLayer(parameters, self.MASK, context)
        if mask is None:
            return None
        if isinstance(mask, QgsRasterLayer):
            if mask.providerType() != "gdal":
                raise QgsProcessingException(f"{mask.name()}: the mask must be a file GDAL opens")
            return mask.source()
        if not isinstance(mask, QgsVectorLayer) or \
                mask.geometryType() != QgsWkbTypes.PolygonGeometry:
            raise QgsProcessingException(f"{mask.name()}: the mask must be a raster or polygons")
        import processing
        if mask.crs() != heights.crs():
            mask = processing.run("native:reprojectlayer", {
                "INPUT": mask, "TARGET_CRS": heights.crs(), "OUTPUT": "TEMPORARY_OUTPUT"},
                context=context, feedback=None, is_child_algorithm=True)["OUTPUT"]
        extent = heights.extent()
        burnt = QgsProcessingUtils.generateTempFilename("mask.tif")
        processing.run("gdal:rasterize", {
            "INPUT": mask, "FIELD": None, "BURN": 255, "UNITS": 0,
            "WIDTH": heights.width(), "HEIGHT": heights.height(),
            "EXTENT": f"{extent.xMinimum()!r},{extent.xMaximum()!r},{extent.yMinimum()!r},"
                      f"{extent.yMaximum()!r}",
            "NODATA": None, "DATA_TYPE": 0, "INIT": 0, "INVERT": False, "OUTPUT": burnt},
            context=context, feedback=None, is_child_algorithm=True)
        return burnt


class ActionAlgorithm(_HostAlgorithm):
    """One action with its settings as parameters, from the settings schema."""

    def __init__(self, action):
        super().__init__()
        self.action = action

    def createInstance(self):  # noqa: N802
        return ActionAlgorithm(self.action)

    def name(self):
        return self.action["python_name"]

    def displayName(self):  # noqa: N802
        return self.action["title"]

    def shortHelpString(self):  # noqa: N802
        lines = [f"{self.action['title']}, as kelvamor-host --batch --action "
                 f"{self.action['name']} runs it."]
        lines += [f"{parameter_name(k)}: {SETTINGS[k]['meaning']}." for k in self.action["settings"]]
        return "\n".join(lines) + "\n" + COMMON_HELP

    def initAlgorithm(self, config=None):  # noqa: N802
        self._add_input()
        for key in self.action["settings"]:
            s = SETTINGS[key]
            name, text = parameter_name(key), s["meaning"][:1].upper() + s["meaning"][1:]
            if key == "Noise":
                self.addParameter(QgsProcessingParameterEnum(
                    name, "Noise type", SCHEMA["noise_types"], defaultValue=int(s["default"])))
            elif s["kind"] == "bool":
                text = text.replace(" (true/false)", "")
                self.addParameter(QgsProcessingParameterBoolean(name, text, bool(s["default"])))
            else:
                kind = QgsProcessingParameterNumber.Integer if s["kind"] == "int" else \
                    QgsProcessingParameterNumber.Double
                parameter = QgsProcessingParameterNumber(name, text, kind, s["default"])
                if s["minimum"] is not None:
                    parameter.setMinimum(s["minimum"])
                if s["maximum"] is not None:
                    parameter.setMaximum(s["maximum"])
                self.addParameter(parameter)
        self._add_rest()

    def checkParameterValues(self, parameters, context):  # noqa: N802
        for key in self.action["settings"]:
            s = SETTINGS[key]
            if s["kind"] == "float" and parameters.get(parameter_name(key)) is not None:
                value = self.parameterAsDouble(parameters, parameter_name(key), context)
                if not math.isfinite(value) or (s["above_minimum"] and value <= s["minimum"]):
                    return False, f"{parameter_name(key)} must be above {s['minimum']:g}"
        return super().checkParameterValues(parameters, context)

    def _action_arguments(self, parameters, context):
        arguments = ["--action", self.action["name"]]
        for key in self.action["settings"]:
            s, name = SETTINGS[key], parameter_name(key)
            if key == "Noise":
                value = str(self.parameterAsEnum(parameters, name, context))
            elif s["kind"] == "bool":
                value = "true" if self.parameterAsBool(parameters, name, context) else "false"
            elif s["kind"] == "int":
                value = str(self.parameterAsInt(parameters, name, context))
            else:
                value = number_text(self.parameterAsDouble(parameters, name, context))
            arguments += ["--set", f"{key}={value}"]
        return arguments


class ModuleAlgorithm(_HostAlgorithm):
    """Any module of the plug-in contract, with its stored or default settings."""
    MODULE = "MODULE"

    def createInstance(self):  # noqa: N802
        return ModuleAlgorithm()

    def name(self):
        return "module"

    def displayName(self):  # noqa: N802
        return "Apply a plug-in module"

    def shortHelpString(self):  # noqa: N802
        return ("Runs any landscape plug-in module (a .so of the Kelvamor plug-in contract) on "
                "the heightmap, as kelvamor-host --batch --plugin MODULE does: the module's "
                "stored or default settings, its dialog answered as a user pressing Enter.\n" +
                COMMON_HELP)

    def initAlgorithm(self, config=None):  # noqa: N802
        self._add_input()
        self.addParameter(QgsProcessingParameterFile(
            self.MODULE, "Plug-in module", extension="so"))
        self._add_rest()

    def _action_arguments(self, parameters, context):
        module = self.parameterAsFile(parameters, self.MODULE, context)
        if not module or not os.path.isfile(module):
            raise QgsProcessingException(f"no plug-in module at {module!r}")
        return ["--plugin", module]


def _copy(source, target, driver, feedback):
    """The host's GeoTIFF as another GDAL format; the GeoTIFF is removed after."""
    from osgeo import gdal
    feedback.pushCommandInfo(f"gdal_translate -of {driver} {shlex.quote(source)} "
                             f"{shlex.quote(target)}")
    try:
        gdal.UseExceptions()
        copied = gdal.Translate(target, source, format=driver)
        if copied is None:
            raise RuntimeError(gdal.GetLastErrorMsg() or "GDAL wrote nothing")
        copied.FlushCache()
        copied = None
    except RuntimeError as e:
        raise QgsProcessingException(f"{target}: cannot be written as {driver} ({e})")
    finally:
        os.remove(source)


def _progress_of(text):
    """How far a run is, from what kelvamor-host --progress has printed so far
    ("reading: 0...10...20", "running soften...", "writing: 0...10")."""
    for line in reversed(text.split("\n")):
        for name, (start, end) in STAGES.items():
            if line.startswith(name):
                tens = re.findall(r"\d+", line.split(":", 1)[1]) if ":" in line else []
                return start + (end - start) * int(tens[-1]) / 100 if tens else start
    return 0.0


def _run(arguments, feedback):
    """Runs kelvamor-host, its progress into feedback; Cancel ends it (it removes its own
    temporary, and the output is unchanged). Its JSON report, or its own message as a
    Processing error."""
    environment = {k: v for k, v in os.environ.items() if not k.startswith("QT_")}
    environment["QT_QPA_PLATFORM"] = "offscreen"  # batch: no window, whatever the display
    with subprocess.Popen(arguments, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          env=environment) as process:
        said = []
        progress = [0.0]

        def read_progress():
            data = b""
            while chunk := os.read(process.stderr.fileno(), 4096):
                data += chunk
                progress[0] = _progress_of(data.decode("utf-8", "replace"))
            said.extend(data.decode("utf-8", "replace").splitlines())

        reader = threading.Thread(target=read_progress, daemon=True)
        reader.start()
        while process.poll() is None:
            if feedback.isCanceled():
                process.terminate()
                process.wait()
                reader.join()
                raise QgsProcessingException("Cancelled: the output is unchanged")
            feedback.setProgress(progress[0])
            time.sleep(0.05)
        output = process.stdout.read()
        reader.join()
    if process.returncode != 0:
        problems = [line for line in said if line.startswith(("kelvamor-host:", "message:"))]
        raise QgsProcessingException("\n".join(problems or said) or
                                     f"kelvamor-host ended with status {process.returncode}")
    for line in said:
        if "warning" in line:
            feedback.reportError(line)
    feedback.setProgress(100)
    try:
        return json.loads(output.decode("utf-8", "replace") or "{}")
    except ValueError:
        return {}
