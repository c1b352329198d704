#pragma once

// Screen-reader views of the custom-painted controls: the slider as a standard slider over
// its range and step, the pill segments as a group of radio buttons with the selected one
// checked. Installed once, by the first control that needs it.

#include <QByteArray>

#include <functional>

class QAccessibleInterface;
class QObject;

namespace vantry {

class PillSegment;

// A screen-reader view without an object of its own (a segment, a timeline block): made by
// `make` once per owner and index, registered with Qt, and kept for the owner's lifetime.
QAccessibleInterface* registeredChild(QObject* owner, const QByteArray& prefix, int index,
                                      const std::function<QAccessibleInterface*()>& make);
// Drops the views made for an owner that is going away.
void releaseRegisteredChildren(QObject* owner, const QByteArray& prefix);

void installDesignAccessibility();
// Drops the per-segment views made for a pill that is going away.
void releaseSegmentAccess(PillSegment* pill);

}  // namespace vantry
