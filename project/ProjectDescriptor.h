#pragma once
// The project descriptor "VlrProDesc.xml": the view state and one record per
// object (name, number, display state, colour), as plain values. Written from
// and read into these records; the archive code applies them to the scene.
#include "project/ProjectXml.h"

#include <QByteArray>
#include <QIODevice>
#include <QColor>
#include <QString>

#include <vector>

namespace project {

// The view state: zoom, the model-view matrix (column by column, as OpenGL
// returns it), the last mouse position and the view centre.
struct ProjectGLInfo {
    double renderScale = 0;
    float modelView[16] = {};
    int lastPosX = 0, lastPosY = 0;
    double renderCenter[3] = {};
};

// One "Object" element.
struct ProjectObjectInfo {
    unsigned id = 0;
    int type = 0;
    QString name;
    unsigned short viewMode = 0; // 0 filled, 1 filled with edges, 2 edges only
    bool transparency = false, selected = false, visible = false, pointed = false, locked = false;
    float transparentValue = 1.0f;
    unsigned numberTriangles = 0;
    QColor shadeColor;
};

struct ProjectDescriptor {
    QString docVersion;
    // Which parts of the view state the document held with usable values;
    // the others keep what the view has.
    bool hasViewPort = false;
    bool hasScale = false, hasMatrix = false, hasCenter = false;
    ProjectGLInfo view;
    std::vector<ProjectObjectInfo> objects;
};

// More object records than this make the descriptor invalid.
constexpr size_t kMaxProjectObjects = 100000;

// The document as written into the archive (UTF-8, indented). Names are
// stripped of characters XML cannot hold.
QByteArray writeDescriptor(const ProjectDescriptor& d);

// Reads a document into out (which starts empty). False when the "DocVersion"
// text is not of the form digits.digits or there are more than
// kMaxProjectObjects records; an XML error ends the document with what was
// read. Numbers that are not finite or are out of any sensible range keep the
// defaults (the view's part is then marked absent); a view mode outside 0..2
// reads as 0, a transparent value outside [0, 1] as 1. Also false when the
// document goes beyond what a descriptor of kMaxProjectObjects objects holds
// (descriptorBounds): elements nested deeper than the format's, a text or tag
// of more than a megabyte.
bool readDescriptor(const QByteArray& xml, ProjectDescriptor& out);
// The same from a device open for reading, read as it arrives.
bool readDescriptor(QIODevice* device, ProjectDescriptor& out);
// What a descriptor can hold.
XmlBounds descriptorBounds();

} // namespace project
