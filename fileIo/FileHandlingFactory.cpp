#include "fileIo/FileHandlingFactory.h"

#include "fileIo/StlFileHandling.h"
#include "fileIo/VGeoFileHandling.h"

#include <cctype>

namespace fileIo {

MeshFileType fileTypeFromName(const std::wstring& fileName) {
    const auto dot = fileName.rfind(L'.');
    if (dot == std::wstring::npos)
        return kMeshUnknown;
    const std::wstring ext = fileName.substr(dot + 1);
    if (ext.size() != 3)
        return kMeshUnknown;
    std::string lower(3, ' ');
    for (int i = 0; i < 3; ++i) {
        const wchar_t c = ext[i];
        if (c > 0x7f)
            return kMeshUnknown;
        lower[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    static const struct {
        const char* ext;
        MeshFileType code;
    } table[] = {{"kav", kMeshKav}, {"stl", kMeshStl}, {"ply", kMeshPly}, {"slc", kMeshSlc},
                 {"obj", kMeshObj}, {"3ds", kMesh3ds}, {"vsg", kMeshVsg}};
    for (const auto& entry : table)
        if (lower == entry.ext)
            return entry.code;
    return kMeshUnknown;
}

FileHandlingFactory* FileHandlingFactory::instance() {
    // The factory has no state; a function-local static is created once and
    // safely even when two import workers ask first at the same moment.
    static FileHandlingFactory factory;
    return &factory;
}

std::unique_ptr<FileHandling> FileHandlingFactory::create(MeshFileType code) const {
    switch (code) {
    case kMeshStl:
        return std::make_unique<StlFileHandling>();
    case kMeshVsg:
        return std::make_unique<VGeoFileHandling>();
    default:
        return nullptr;
    }
}

std::unique_ptr<FileHandling> FileHandlingFactory::createForFile(const std::wstring& fileName,
                                                                 topolib::StlObject* target) const {
    auto handler = create(fileTypeFromName(fileName));
    if (handler) {
        handler->setFileName(fileName);
        handler->setTarget(target);
    }
    return handler;
}

} // namespace fileIo
