#pragma once
// The support panel's last used parameters, kept in "supportParam.xml" in the
// folder "Params" of the data folder: one line of XML, a root "Projects"
// holding one empty element "SupportParams" with ten attributes. Only the
// panel reads and writes the file.
//
// Every value read passes through the same range and rounding as the panel's
// number box for it (support::clampSupportParam), so a file can never hand the
// containers a value the panel could not show.
#include "support/SupportParams.h"

#include <QByteArray>
#include <QString>

namespace support {

// <data folder>/Params/supportParam.xml; creates the folder "Params" when it
// is missing (a folder that cannot be created is not reported here).
QString supportParamFilePath();

// The file's text for params (no declaration, no line breaks).
QByteArray supportParamXml(const SupportParams& params);

// Writes the file through a temporary file beside it that replaces it only
// when complete, so a failed write leaves the previous file as it was. A
// failure is logged and not shown; false. With failureLogged (the writer's
// own flag, kept between its writes) it is logged once while writes keep
// failing, so that a data folder that stays unwritable fills the log with
// one line, not one per generation.
bool writeSupportParamFile(const QString& path, const SupportParams& params, bool* failureLogged = nullptr);

// Reads path into params. Without a file, or when it cannot be opened,
// params is unchanged and false is returned. Every "SupportParams" element
// (at any depth; a later one wins) sets all ten values: a missing or blank
// number reads as 0 and each value is clamped as by clampSupportParam;
// "RemoveInternal" "true"/"1" checks, "false"/"0"/blank unchecks, any other
// text leaves it. An XML error ends the document: what was read stays.
bool readSupportParamFile(const QString& path, SupportParams& params);

} // namespace support
