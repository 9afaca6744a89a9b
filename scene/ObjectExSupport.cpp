// The object's support relays: each creates the object's support container
// when it has none and hands the value on.
#include "app/Log.h"
#include "scene/ObjectEx.h"
#include "scene/SceneHost.h"
#include "support/ConeShape.h"
#include "support/SupportArea.h"
#include "support/SupportGen.h"
#include "support/SupportParams.h"

#include <cmath>
#include <cstdio>
#include <string>

std::shared_ptr<support::SupportGen> ObjectEx::supportGen() {
    if (!m_support)
        m_support = std::make_shared<support::SupportGen>(this);
    return m_support;
}

int ObjectEx::supportAreaCount() const {
    return m_support ? int(m_support->areaCount()) : 0;
}
double ObjectEx::supportDensity() const {
    return m_support ? m_support->getDensity() : 0.0;
}
double ObjectEx::supportMaxAngle() const {
    return m_support ? m_support->getMaxAngle() : 0.0;
}
bool ObjectEx::supportRemoveInternal() const {
    return m_support && m_support->getRemoveInternal();
}

void ObjectEx::setSupportType(support::SupportType type, bool regenerate) {
    supportGen()->setSupportType(type, regenerate);
}
void ObjectEx::setSupportBaseType(support::BaseType type, bool regenerate) {
    supportGen()->setBaseType(type, regenerate);
}
void ObjectEx::setSupportBaseSize(const double* v) {
    supportGen()->setBaseSize(*v);
}
void ObjectEx::setSupportBaseThickness(const double* v) {
    supportGen()->setBaseThickness(*v);
}
void ObjectEx::setSupportBranchRadius(const double* v) {
    supportGen()->setBranchRadius(*v);
}
void ObjectEx::setSupportTrunkRadius(const double* v) {
    supportGen()->setTrunkRadius(*v);
}
void ObjectEx::setSupportTipRadius(const double* v) {
    supportGen()->setTipRadius(*v);
}
void ObjectEx::setSupportHeadExtend(const double* v) {
    supportGen()->setHeadExtend(*v);
}
void ObjectEx::setSupportDensity(const double* v) {
    supportGen()->setDensity(*v);
}
void ObjectEx::setSupportMaxAngle(const double* v) {
    supportGen()->setMaxAngle(*v);
}
void ObjectEx::setSupportRemoveInternal(bool on) {
    supportGen()->setRemoveInternal(on);
}
void ObjectEx::setSupportParams(const support::SupportParams& params) {
    using P = support::SupportParams;
    support::SupportGen& gen = *supportGen();
    gen.setMaxAngle(params[P::Angle]);
    gen.setTipRadius(params[P::TipSize] / 2.0);
    gen.setTrunkRadius(params[P::TrunkSize] / 2.0);
    gen.setBranchRadius(params[P::BranchSize] / 2.0);
    gen.setHeadExtend(params[P::HeadExtend]);
    gen.setBaseThickness(params[P::BaseThickness]);
    gen.setBaseSize(params[P::BottomSize]);
    gen.setDensity(params[P::Density]);
    gen.setRemoveInternal(params.removeInternal);
}

std::string ObjectEx::floatingWithoutSupportText(const support::SupportGen& supports) const {
    // A model standing on the platform needs no support to print; one above
    // it with no cone at all (an up-facing plate, a lone triangle, an open
    // surface) would print into nothing.
    constexpr double kOnPlatform = 0.01;
    const double lowest = bboxMin()[2];
    if (!(lowest > kOnPlatform) || !std::isfinite(lowest))
        return std::string();
    for (std::size_t i = 0; i < supports.areaCount(); ++i)
        for (const support::AbtShape* shape : supports.areaAt(i)->shapes)
            if (const support::ConeShape* cone = shape ? shape->asCone() : nullptr; cone && !cone->isDeleted())
                return std::string();
    char height[32];
    std::snprintf(height, sizeof height, "%.2f", lowest);
    return std::string("No support could be placed under the model, which floats ") + height +
           " mm above the platform: it would print into nothing. Place it on the platform or add support "
           "points by hand.";
}

bool ObjectEx::generateSupport() {
    waitForJobs();
    std::shared_ptr<support::SupportGen> supports = supportGen();
    resetTriangleGroups();
    // The object's name before a message, and the message into the log.
    auto note = [this](const std::string& text) {
        QString s = QString::fromStdString(text);
        if (s.isEmpty())
            return s;
        if (!name().isEmpty())
            s = QStringLiteral("%1: %2").arg(name(), s);
        logText(s.toUtf8().constData());
        return s;
    };
    logText("----- Generate support: begin -----");
    // An open surface is told before the work, as the hollowing tells it.
    const QString open = note(supports->openSurfaceText());
    if (!open.isEmpty())
        sceneHost()->showMessage(open, SceneMessage::Information, SceneMessage::Ok, SceneMessage::Ok);
    const bool generated = supports->generate();
    const QString turned = note(supports->turnedShellText());
    const QString failure = generated ? QString() : note(supports->failureText());
    const QString floating = generated ? note(floatingWithoutSupportText(*supports)) : QString();
    logText("----- Generate support: end -----");
    logText("");
    // The box runs an event loop: the container is complete before it opens.
    if (!turned.isEmpty())
        sceneHost()->showMessage(turned, SceneMessage::Information, SceneMessage::Ok, SceneMessage::Ok);
    if (!generated)
        sceneHost()->showMessage(failure, SceneMessage::Warning, SceneMessage::Ok, SceneMessage::Ok);
    if (!floating.isEmpty())
        sceneHost()->showMessage(floating, SceneMessage::Warning, SceneMessage::Ok, SceneMessage::Ok);
    return generated;
}

void ObjectEx::previewConeAt(topolib::StlTriangle* facet, const double point[3]) {
    supportGen()->previewAddedPoint(facet, point);
}

void ObjectEx::clearConePreview() {
    if (m_support)
        m_support->clearAddedPoint();
}

support::SupportAreaAbs* ObjectEx::takeConePreview() {
    return m_support ? m_support->linkCone() : nullptr;
}

bool ObjectEx::takePointedSupport(support::ShapeDeque* changes) {
    if (!m_pointedSupport)
        return false;
    m_pointedSupport->setDeleted(true, changes);
    if (m_support)
        m_support->markChanged();
    m_pointedSupport = nullptr;
    return true;
}

void ObjectEx::deleteSupport() {
    setSupportGen(nullptr);
}

void ObjectEx::setSupportGen(std::shared_ptr<support::SupportGen> gen) {
    m_pointedSupport = nullptr;
    if (gen == m_support)
        return;
    if (m_support) {
        // Undo commands may still hold the container and put it back: it
        // keeps no hover preview, and is drawn afresh when it returns.
        m_support->clearAddedPoint();
    }
    m_support = std::move(gen);
    if (m_support)
        m_support->markChanged();
}

void ObjectEx::appendSupportTriangles(std::vector<topolib::StlTriangle*>& out) {
    if (m_support)
        m_support->appendAllTriangles(out);
}
