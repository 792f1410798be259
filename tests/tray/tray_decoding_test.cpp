#include "player/tray/tray_decoding.h"

#include <gtest/gtest.h>

namespace kirasol::tray {
namespace {

TEST(TrayDecoding, ActivationReasonsBecomeMouseMessages) {
  struct Case {
    QSystemTrayIcon::ActivationReason reason;
    int message;
    TrayAction action;
  };
  const Case cases[] = {
      {QSystemTrayIcon::Trigger, 514, TrayAction::RestoreMainWindow},
      {QSystemTrayIcon::DoubleClick, 515, TrayAction::RestoreMainWindow},
      {QSystemTrayIcon::Context, 517, TrayAction::PopupMenu},
      {QSystemTrayIcon::MiddleClick, 0, TrayAction::None},
      {QSystemTrayIcon::Unknown, 0, TrayAction::None},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(mouseMessageFor(c.reason), c.message) << c.reason;
    EXPECT_EQ(trayActionFor(decodeTrayMessage(mouseMessageFor(c.reason), true)), c.action) << c.reason;
  }
}

TEST(TrayDecoding, MessageFromTheMouseMovesX) {
  struct Case {
    double x;
    bool pixels;
    int message;
    TrayAction action;
  };
  const Case cases[] = {
      {514, true, 514, TrayAction::RestoreMainWindow},
      {515, true, 515, TrayAction::RestoreMainWindow},
      {517, true, 517, TrayAction::PopupMenu},
      {516, true, 516, TrayAction::None},
      {513, true, 513, TrayAction::None},
      {280, true, 280, TrayAction::None},          // an ordinary move over the 281-pixel window
      {7710, false, 514, TrayAction::RestoreMainWindow},  // twips: 514 * 15
      {7755, false, 517, TrayAction::PopupMenu},
      {7717.5, false, 514, TrayAction::RestoreMainWindow},  // 514.5 rounds to the even 514
      {7732.5, false, 516, TrayAction::None},               // 515.5 rounds to the even 516
      {514.5, true, 514, TrayAction::RestoreMainWindow},
      {1e300, true, 0, TrayAction::None},                   // not a message at all
  };
  for (const Case &c : cases) {
    EXPECT_EQ(decodeTrayMessage(c.x, c.pixels), c.message) << c.x;
    EXPECT_EQ(trayActionFor(decodeTrayMessage(c.x, c.pixels)), c.action) << c.x;
  }
}

}  // namespace
}  // namespace kirasol::tray
