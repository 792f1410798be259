#include "controls/slider/slider_accessible.h"

#include "controls/slider/slider.h"

#include <algorithm>
#include <climits>
#include <cstdint>

namespace kirasol {

namespace {

QAccessibleInterface *sliderFactory(const QString &className, QObject *object) {
  if (className != QLatin1String(Slider::staticMetaObject.className())) return nullptr;
  if (auto *slider = qobject_cast<Slider *>(object)) return new SliderAccessible(slider);
  return nullptr;
}

}  // namespace

SliderAccessible::SliderAccessible(Slider *slider) : QAccessibleWidget(slider, QAccessible::Slider) {}

Slider *SliderAccessible::slider() const { return static_cast<Slider *>(widget()); }

void *SliderAccessible::interface_cast(QAccessible::InterfaceType type) {
  if (type == QAccessible::ValueInterface) return static_cast<QAccessibleValueInterface *>(this);
  return QAccessibleWidget::interface_cast(type);
}

QString SliderAccessible::text(QAccessible::Text t) const {
  if (t == QAccessible::Value) return QString::number(slider()->value());
  return QAccessibleWidget::text(t);
}

QVariant SliderAccessible::currentValue() const { return slider()->value(); }
void SliderAccessible::setCurrentValue(const QVariant &value) {
  bool ok = false;
  const double v = value.toDouble(&ok);
  if (!ok) return;
  slider()->userSetValue(static_cast<std::int32_t>(std::clamp(v, double(INT32_MIN), double(INT32_MAX))));
}
QVariant SliderAccessible::maximumValue() const { return slider()->max(); }
QVariant SliderAccessible::minimumValue() const { return slider()->min(); }
QVariant SliderAccessible::minimumStepSize() const { return 1; }

QStringList SliderAccessible::actionNames() const {
  return {increaseAction(), decreaseAction(), setFocusAction()};
}

void SliderAccessible::doAction(const QString &actionName) {
  if (actionName == increaseAction()) {
    slider()->userStep(SliderStep::PageUp);
  } else if (actionName == decreaseAction()) {
    slider()->userStep(SliderStep::PageDown);
  } else {
    QAccessibleWidget::doAction(actionName);
  }
}

void installSliderAccessible() {
  static const bool installed = [] {
    QAccessible::installFactory(&sliderFactory);
    return true;
  }();
  (void)installed;
}

}  // namespace kirasol
