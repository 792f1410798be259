#include "controls/slider/property_store.h"
#include "controls/slider/slider_model.h"
#include "slider_test_support.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QPixmap>

using kirasol::MemoryPropertyStore;
using kirasol::SliderModel;

namespace {

QPixmap picture(int w, int h, QColor colour) {
  QPixmap p(w, h);
  p.fill(colour);
  return p;
}

TEST(PropertyStore, LeavesOutDefaults) {
  MemoryPropertyStore store;
  store.write("A", 5, 5);
  store.write("B", 6, 5);
  store.write("C", QVariant::fromValue(QPixmap()), QVariant());  // no picture
  store.write("D", QVariant::fromValue<quint32>(0x8000000F), QVariant::fromValue<quint32>(0x8000000F));
  store.write("E", QVariant::fromValue<qint16>(3), QVariant::fromValue<qint32>(3));  // widths differ
  EXPECT_EQ(store.keys(), QStringList{"B"});
  store.write("B", 5, 5);  // back to its default: removed
  EXPECT_FALSE(store.contains("B"));
  EXPECT_EQ(store.read("B", 17).toInt(), 17);
}

TEST(PropertyStore, SameProperty) {
  const QPixmap p = picture(2, 2, Qt::red);
  const struct {
    QVariant a, b;
    bool same;
  } cases[] = {
      {QVariant(), QVariant(), true},
      {QVariant::fromValue(QPixmap()), QVariant(), true},
      {QVariant::fromValue(QImage()), QVariant(), true},
      {QVariant::fromValue(p), QVariant(), false},
      {QVariant::fromValue(p), QVariant::fromValue(p), true},
      {QVariant::fromValue(p), QVariant::fromValue(picture(2, 2, Qt::red)), false},
      {QVariant(0), QVariant(), false},
      {QVariant(0), QVariant::fromValue<quint32>(0), true},
      {QVariant(-1), QVariant::fromValue<quint32>(0xFFFFFFFF), false},
      {QVariant("x"), QVariant("x"), true},
  };
  int i = 0;
  for (const auto &c : cases) {
    EXPECT_EQ(kirasol::sameProperty(c.a, c.b), c.same) << "case " << i;
    EXPECT_EQ(kirasol::sameProperty(c.b, c.a), c.same) << "case " << i;
    ++i;
  }
}

TEST(SliderSaving, FreshControlSavesOnlyItsBlackFill) {
  SliderModel m;
  m.Initialize();
  MemoryPropertyStore store;
  m.WriteProperties(store);
  // The track is black before anything is assigned, unlike the key's default
  // (the system button face).
  EXPECT_EQ(store.keys(), QStringList{"BackColor"});
  EXPECT_EQ(store.read("BackColor", {}).toUInt(), 0u);
}

// The main window's volume slider: horizontal, black, value 50.
TEST(SliderSaving, VolumeSliderSavedSet) {
  SliderModel m;
  kirasol::test::makeSlider(m, 1, 100);
  m.setBackColor(0);
  m.setValue(50);
  MemoryPropertyStore saved;
  m.WriteProperties(saved);
  EXPECT_EQ(saved.keys(), (QStringList{"BackColor", "Value", "Position"}));

  SliderModel restored;
  restored.Initialize();
  restored.Resize(9, 100);
  EXPECT_TRUE(restored.ReadProperties(
      MemoryPropertyStore{{"BackColor", 0}, {"Value", 50}, {"Position", 1}}));
  EXPECT_EQ(restored.min(), 0);
  EXPECT_EQ(restored.max(), 100);
  EXPECT_EQ(restored.value(), 50);
  EXPECT_EQ(restored.largeChange(), 0);
  EXPECT_EQ(restored.position(), 1);
  EXPECT_EQ(restored.backColor(), 0u);
  EXPECT_EQ(restored.picBack1().fillColour, 0u);
  EXPECT_TRUE(restored.bar().isNull() && restored.pictureBack().isNull() &&
              restored.mouseIcon().isNull());
  EXPECT_EQ(restored.barPos(), 46);
}

TEST(SliderSaving, RoundTripOfEveryKey) {
  const QPixmap back = picture(100, 9, Qt::gray), icon = picture(16, 16, Qt::red),
                progress = picture(100, 9, Qt::blue), bar = picture(7, 9, Qt::white),
                over = picture(7, 9, Qt::yellow), down = picture(7, 9, Qt::green);
  SliderModel m;
  kirasol::test::makeSlider(m, 1, 100);
  m.setPictureBack(back);
  m.setMouseIcon(icon);
  m.setPictureProgress(progress);
  m.setBarOver(over);
  m.setBarDown(down);
  m.setBar(bar);
  m.setBackColor(0x00123456);
  m.setMin(-20);
  m.setMax(300);
  m.setLargeChange(-4);
  m.setValue(-7);
  m.setPosition(5);
  MemoryPropertyStore store;
  m.WriteProperties(store);
  EXPECT_EQ(store.keys(), (QStringList{"PictureBack", "MouseIcon", "PictureProgress", "Bar",
                                       "BarOver", "BarDown", "BackColor", "Min", "Max",
                                       "LargeChange", "Value", "Position"}));
  EXPECT_EQ(store.read("LargeChange", {}).metaType().id(), QMetaType::Short);

  SliderModel r;
  kirasol::test::RecordingListener events;
  r.setListener(&events);
  r.Initialize();
  r.Resize(9, 100);
  r.ReadProperties(store);
  EXPECT_EQ(r.pictureBack().cacheKey(), back.cacheKey());
  EXPECT_EQ(r.mouseIcon().cacheKey(), icon.cacheKey());
  EXPECT_EQ(r.pictureProgress().cacheKey(), progress.cacheKey());
  EXPECT_EQ(r.bar().cacheKey(), bar.cacheKey());
  EXPECT_EQ(r.barOver().cacheKey(), over.cacheKey());
  EXPECT_EQ(r.barDown().cacheKey(), down.cacheKey());
  EXPECT_EQ(r.backColor(), 0x00123456u);
  EXPECT_EQ(r.min(), -20);
  EXPECT_EQ(r.max(), 300);
  EXPECT_EQ(r.largeChange(), -4);
  EXPECT_EQ(r.value(), -7);
  EXPECT_EQ(r.position(), 5);
  EXPECT_EQ(r.thumbLength(), 7);  // the Position assignment sized the thumb to its picture
  EXPECT_EQ(events.only("Notice"), QStringList{"Notice Position"});
}

// Restoring stores numbers directly, without the assignment rules.
TEST(SliderSaving, RestoreSkipsRangeRules) {
  SliderModel m;
  m.Initialize();
  m.ReadProperties(MemoryPropertyStore{{"Min", 10}, {"Max", 5}, {"Value", 70}, {"LargeChange", 9}});
  EXPECT_EQ(m.min(), 10);
  EXPECT_EQ(m.max(), 5);
  EXPECT_EQ(m.value(), 70);
  EXPECT_EQ(m.largeChange(), 9);
}

TEST(SliderSaving, UnreadableValuesReadAsDefaults) {
  SliderModel m;
  m.Initialize();
  m.ReadProperties(MemoryPropertyStore{{"Value", "abc"},
                                       {"LargeChange", 70000},
                                       {"Max", qint64(1) << 40},
                                       {"BackColor", qint64(1) << 33},
                                       {"Bar", "not a picture"},
                                       {"Position", QVariant::fromValue<quint32>(0xFFFFFFFF)}});
  EXPECT_EQ(m.value(), 0);
  EXPECT_EQ(m.largeChange(), 0);
  EXPECT_EQ(m.max(), 100);
  EXPECT_EQ(m.backColor(), kirasol::kButtonFace);
  EXPECT_TRUE(m.bar().isNull());
  EXPECT_EQ(m.position(), 0);
}

}  // namespace
