#include "app/PrinterVolume.h"

#include "app/Settings.h"

namespace {

const double kTarn[3] = {130.0, 130.0, 180.0};
const double kTarn200[3] = {200.0, 200.0, 250.0};
const GeneralSetting kSizeKeys[3] = {GENERAL_CURRENT_BUILD_SIZE_X, GENERAL_CURRENT_BUILD_SIZE_Y,
                                     GENERAL_CURRENT_BUILD_SIZE_Z};

} // namespace

bool fixedPrinterVolume(int printer, double out[3]) {
    const double* volume = printer == PRINTER_TARN ? kTarn : printer == PRINTER_TARN_200 ? kTarn200 : nullptr;
    if (!volume)
        return false;
    for (int a = 0; a < 3 && out; ++a)
        out[a] = volume[a];
    return true;
}

void storedBuildSize(double out[3]) {
    for (int a = 0; a < 3; ++a)
        out[a] = getGeneralDouble(kSizeKeys[a], kTarn[a]);
}

void storeMissingBuildSize() {
    for (int a = 0; a < 3; ++a)
        if (!hasGeneralSetting(kSizeKeys[a]))
            setGeneralDouble(kSizeKeys[a], kTarn[a]);
}

int currentPrinter() {
    const int printer = getGeneralInt(GENERAL_CURRENT_PRINTER, PRINTER_TARN);
    return printer >= PRINTER_TARN && printer <= PRINTER_CUSTOM ? printer : PRINTER_TARN;
}

void currentBuildVolume(double out[3]) {
    if (!fixedPrinterVolume(currentPrinter(), out))
        storedBuildSize(out);
}
