#pragma once
// The printer models and their build volumes. Every reader of the build
// volume (the view's platform, the placement of imports, Center and Fit To
// Platform) comes here, or to the view that was set from here, so that what
// is drawn is what objects are placed on.
enum PrinterModel { PRINTER_TARN = 0, PRINTER_TARN_200 = 1, PRINTER_CUSTOM = 2 };

// Whether printer is a fixed model; its build volume (x, y, z in mm) goes to
// out unless out is null. False, out untouched, for the custom printer and
// unknown indices.
bool fixedPrinterVolume(int printer, double out[3]);
// The custom printer's stored build size ("CurrentBuildSizeX/Y/Z"), each
// missing key read as 130, 130, 180.
void storedBuildSize(double out[3]);
// Writes the defaults of the stored build size for each key that is missing.
void storeMissingBuildSize();
// The stored printer choice ("CurrentPrinter", default Tarn); a value that
// names no model (a damaged setting) is Tarn.
int currentPrinter();
// The current printer's build volume: a fixed model's own, the custom
// printer's stored build size.
void currentBuildVolume(double out[3]);
