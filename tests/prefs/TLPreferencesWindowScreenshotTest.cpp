#include "support/TLQtTestApplication.h"
#include "update/TLRecordingPresenter.h"

#include "TLFakeDesktop.h"
#include "TLFakeHotKeyService.h"
#include "TLFakeKeyboardLayout.h"
#include "TLFakeLoginItemService.h"
#include "TLHotkeyManager.h"
#include "TLLoginItem.h"
#include "TLPreferencesWindowController.h"
#include "TLShortcutRecorder.h"
#include "TLUpdater.h"
#include "TLUserDefaults.h"
#include "TLWindowMover.h"

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QKeyEvent>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

namespace {

QPalette darkPalette() {
    const QColor text(0xe6, 0xe6, 0xe6);
    QPalette p;
    p.setColor(QPalette::Window, QColor(0x2b, 0x2b, 0x2b));
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, QColor(0x1e, 0x1e, 0x1e));
    p.setColor(QPalette::AlternateBase, QColor(0x26, 0x26, 0x26));
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, QColor(0x3a, 0x3a, 0x3a));
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::Light, QColor(0x50, 0x50, 0x50));
    p.setColor(QPalette::Midlight, QColor(0x44, 0x44, 0x44));
    p.setColor(QPalette::Mid, QColor(0x5a, 0x5a, 0x5a));
    p.setColor(QPalette::Dark, QColor(0x18, 0x18, 0x18));
    p.setColor(QPalette::Shadow, QColor(0x0c, 0x0c, 0x0c));
    p.setColor(QPalette::Highlight, QColor(0x3d, 0x7b, 0xe0));
    p.setColor(QPalette::HighlightedText, Qt::white);
    QColor placeholder = text;
    placeholder.setAlpha(128);
    p.setColor(QPalette::PlaceholderText, placeholder);
    p.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0x80, 0x80, 0x80));
    p.setColor(QPalette::Disabled, QPalette::Text, QColor(0x80, 0x80, 0x80));
    p.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0x80, 0x80, 0x80));
    return p;
}

double meanLightness(const QImage& image) {
    double sum = 0;
    for (int y = 0; y < image.height(); y += 4) {
        for (int x = 0; x < image.width(); x += 4) {
            sum += image.pixelColor(x, y).lightnessF();
        }
    }
    return sum / ((image.height() + 3) / 4 * ((image.width() + 3) / 4));
}

int distinctColours(const QImage& image) {
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            colours.insert(image.pixel(x, y));
        }
    }
    return static_cast<int>(colours.size());
}

struct Appearance {
    const char* name;
    bool dark;
    bool trusted;
};

void PrintTo(const Appearance& appearance, std::ostream* os) {
    *os << appearance.name;
}

class PreferencesScreenshot : public ::testing::TestWithParam<Appearance> {};

// Renders the window to a PNG in the build folder (to look at) and checks it is a real picture
// in the requested appearance.
TEST_P(PreferencesScreenshot, RendersTheWindow) {
    const Appearance& appearance = GetParam();
    const QPalette original = QApplication::palette();
    if (appearance.dark) {
        QApplication::setPalette(darkPalette());
    }

    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    TLFakeKeyboardLayout keyboard;
    TLKeyboardLayout::install(&keyboard);
    TLFakeDesktop desktop;
    desktop.trusted = appearance.trusted;
    TLWindowMover::setPlatform(&desktop, &desktop);
    TLFakeLoginItemService login;
    TLLoginItem::setService(&login);

    TLUserDefaults defaults(dir.filePath(QStringLiteral("Tilora.plist")));
    TLFakeHotKeyService service;
    service.taken = {{18, 0x1800}, {124, 0x1a00}};
    TLHotkeyManager manager(defaults, service);
    manager.setShortcut(TLShortcut::unbound(), *TLLayout::layoutWithIdentifier("ninth.c.mid"));
    TLRecordingPresenter presenter;
    TLUpdaterContext context;
    context.tempDir = dir.path();
    TLUpdater updater(defaults, presenter, context);

    {
        TLPreferencesWindowController controller(manager, updater);
        controller.showAndActivate();
        ASSERT_TRUE(QTest::qWaitForWindowActive(controller.window()));
        // One recorder in the middle of a recording, with Control held.
        TLShortcutRecorder* recorder = controller.recorderAt(4);
        QTest::mouseClick(recorder, Qt::LeftButton);
        QKeyEvent control(QEvent::KeyPress, Qt::Key_Control, Qt::NoModifier);
        QApplication::sendEvent(recorder, &control);
        ASSERT_EQ(recorder->displayText(), QStringLiteral("⌃…"));

        const QImage image = controller.window()->grab().toImage();
        const QString path = QDir(QStringLiteral(TL_SCREENSHOT_DIR))
                                 .filePath(QStringLiteral("preferences-%1.png").arg(appearance.name));
        ASSERT_TRUE(image.save(path)) << path.toStdString();

        EXPECT_EQ(image.size(), QSize(560, 680));
        EXPECT_GT(distinctColours(image), 50) << "a blank or flat picture";
        if (appearance.dark) {
            EXPECT_LT(meanLightness(image), 0.35);
        } else {
            EXPECT_GT(meanLightness(image), 0.65);
        }
    }

    TLLoginItem::setService(nullptr);
    TLWindowMover::setPlatform(nullptr, nullptr);
    TLKeyboardLayout::install(nullptr);
    QApplication::setPalette(original);
}

INSTANTIATE_TEST_SUITE_P(Appearances, PreferencesScreenshot,
                         ::testing::Values(Appearance{"light", false, false}, Appearance{"dark", true, true}),
                         [](const ::testing::TestParamInfo<Appearance>& info) {
                             return std::string(info.param.name);
                         });

} // namespace
