#pragma once
// What assistive tools (screen readers over AT-SPI) see of a Slider: a slider
// role with the host's accessible name, and its value, range and step through
// the value interface. Setting the value from a tool is a user change: it
// raises Change like a drag. Installed by the first Slider made.

#include <QAccessibleWidget>

namespace kirasol {

class Slider;

class SliderAccessible final : public QAccessibleWidget, public QAccessibleValueInterface {
 public:
  explicit SliderAccessible(Slider *slider);

  void *interface_cast(QAccessible::InterfaceType type) override;
  QString text(QAccessible::Text t) const override;

  QVariant currentValue() const override;
  void setCurrentValue(const QVariant &value) override;
  QVariant maximumValue() const override;
  QVariant minimumValue() const override;
  QVariant minimumStepSize() const override;

  QStringList actionNames() const override;
  void doAction(const QString &actionName) override;

 private:
  Slider *slider() const;
};

// Makes assistive tools use SliderAccessible for every Slider; safe to call often.
void installSliderAccessible();

}  // namespace kirasol
