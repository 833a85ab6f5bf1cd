// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/capture/X11SelectionCapture.h"

#include <map>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <tuple>
#include <vector>

#include <QClipboard>
#include <QTimer>
#include <gtest/gtest.h>
#include <xkbcommon/xkbcommon.h>

#include "app/capture/CaptureSession.h"
#include "app/capture/X11AccessibilityTrust.h"
#include "app/capture/X11CopyKeystroke.h"
#include "platform/x11/XcbHandles.h"

namespace norik::app {
namespace {

using tests::waitUntil;
using Formats = std::map<QByteArray, QByteArray>;

const std::string ctrlC =
    "key " + std::to_string(static_cast<int>(Qt::Key_C)) + " " + std::to_string(static_cast<int>(Qt::ControlModifier));
const QString words = QStringLiteral("the selected words");

// X key codes (evdev + 8) of the reply to a terminal.
enum : xcb_keycode_t { letterZ = 52, returnKey = 36 };

class X11SelectionCaptureTest : public ::testing::Test {
protected:
    // Requests of at most 4 MB: a clipboard format of 5 MB no longer fits one, and Qt sends it in INCR pieces.
    static void SetUpTestSuite() {
        s_session = std::make_unique<tests::DesktopSession>(std::vector<std::string>{"-maxbigreqsize", "1"});
    }
    static void TearDownTestSuite() { s_session.reset(); }

    void SetUp() override {
        ASSERT_EQ(s_session->error(), "");
        m_capture = X11SelectionCapture::forApplication();
        ASSERT_NE(m_capture, nullptr);
        QObject::connect(QGuiApplication::clipboard(), &QClipboard::changed, &m_context,
                         [this](QClipboard::Mode mode) { m_clipboardChanges += mode == QClipboard::Clipboard; });
    }

    // Runs one capture to its end; `done` must run once.
    std::optional<QString> capture(std::stop_token stop = {}) {
        int calls = 0;
        std::optional<QString> text;
        m_capture->capture(std::move(stop), [&](std::optional<QString> result) {
            ++calls;
            text = std::move(result);
        });
        EXPECT_TRUE(waitUntil([&] { return calls > 0; }));
        // A poll still scheduled when `done` ran fires before a timer of the same interval started now.
        bool later = false;
        QTimer::singleShot(X11SelectionCapture::pollIntervalMs, Qt::PreciseTimer, &m_context, [&] { later = true; });
        EXPECT_TRUE(waitUntil([&] { return later; }));
        EXPECT_EQ(calls, 1);
        return text;
    }

    static Formats clipboardSeenByAnotherClient() {
        tests::ClientProcess reader(QStringLiteral(NORIK_CAPTURE_TEST_EDITOR), {QStringLiteral("--dump")});
        EXPECT_TRUE(reader.waitForLine("end"));
        Formats formats;
        for (const QByteArray& line : reader.lines()) {
            if (const QList<QByteArray> fields = line.split(' '); fields.size() == 3 && fields[0] == "format") {
                formats[fields[1]] = QByteArray::fromBase64(fields[2]);
            }
        }
        return formats;
    }

    // The editor's reports that start with `prefix`, but for the Copy's own Control key; readable in failure messages.
    static std::vector<std::string> reported(tests::Editor& editor, const QByteArray& prefix) {
        std::vector<std::string> lines;
        for (const QByteArray& line : editor.process().lines()) {
            const int key = line.startsWith("key ") ? line.split(' ').value(1).toInt() : 0;
            if (line.startsWith(prefix) && key != Qt::Key_Control) {
                lines.push_back(line.toStdString());
            }
        }
        return lines;
    }

    static void setLayout(const QString& variant) {
        ASSERT_EQ(QProcess::execute("setxkbmap", {"-display", QString::fromStdString(s_session->display()), "us",
                                                  "-variant", variant}),
                  0);
    }

    static inline std::unique_ptr<tests::DesktopSession> s_session;
    std::unique_ptr<X11SelectionCapture> m_capture;
    int m_clipboardChanges = 0;
    QObject m_context;
};

enum class Before { editorsClipboard, noriksClipboard, emptyClipboard };

struct CaptureRow {
    const char* name;
    QStringList editor = {"--select", "--clipboard-text", "old"}; // besides the text, which is `words`
    Before before = Before::editorsClipboard;
    const char* variant = "";
    bool stopOnceCopied = false;
    // The clipboard afterwards: the one before, byte for byte, or else the copy of `words` (and no secret hint).
    bool restored = true;
};

class CaptureRowTest : public X11SelectionCaptureTest, public ::testing::WithParamInterface<CaptureRow> {};

TEST_P(CaptureRowTest, CopiesAloneAndPutsTheClipboardBack) {
    const CaptureRow& row = GetParam();
    if (row.before == Before::noriksClipboard) {
        // What an earlier capture's write-back leaves: Norik itself serves the clipboard.
        QGuiApplication::clipboard()->setText(QStringLiteral("norik's own words"), QClipboard::Clipboard);
    } else if (row.before == Before::emptyClipboard) {
        QGuiApplication::clipboard()->clear(QClipboard::Clipboard);
        ASSERT_TRUE(waitUntil([] { return s_session->clipboardOwner() == XCB_NONE; }));
    }
    ASSERT_NO_FATAL_FAILURE(setLayout(row.variant));
    const int changes = m_clipboardChanges;
    tests::Editor editor(*s_session, QStringList{"--text", words} + row.editor);
    ASSERT_TRUE(editor.ready());
    // Qt announces another client's new clipboard once XFIXES tells it, which must come before a capture.
    ASSERT_TRUE(row.before != Before::editorsClipboard || waitUntil([&] { return m_clipboardChanges > changes; }));
    // Only where wanted: asking an owner that never delivers would wait as long as Qt lets it.
    const Formats before = row.restored ? clipboardSeenByAnotherClient() : Formats();
    std::stop_source stop;
    if (row.stopOnceCopied) {
        QObject::connect(QGuiApplication::clipboard(), &QClipboard::changed, &m_context, [&] {
            // The Copy, not the capture's own claim before it.
            if (!QGuiApplication::clipboard()->ownsClipboard()) {
                stop.request_stop();
            }
        });
    }

    const std::optional<QString> text = capture(stop.get_token());

    setLayout("");
    EXPECT_EQ(text, row.editor.contains("--select") ? std::optional(words) : std::nullopt);
    EXPECT_EQ(reported(editor, "key "), std::vector{ctrlC}) << "Ctrl+C alone reaches the editor";
    // An owner that never delivers is asked once: every later format would wait its turn.
    EXPECT_LE(reported(editor, "asked").size(), 1U);
    EXPECT_EQ(stop.stop_requested(), row.stopOnceCopied);
    const Formats after = clipboardSeenByAnotherClient();
    if (row.restored) {
        EXPECT_EQ(after, before);
    } else {
        EXPECT_EQ(after.at("text/plain"), words);
        EXPECT_FALSE(after.contains("x-kde-passwordManagerHint"));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, CaptureRowTest,
    ::testing::Values(
        CaptureRow{.name = "TextAndAFormatInIncrPieces",
                   .editor = {"--select", "--clipboard-text", "old", "--clipboard-bytes", "5000000"}},
        CaptureRow{.name = "OwnerThatNeverDelivers", .editor = {"--select", "--clipboard-silent"}, .restored = false},
        CaptureRow{.name = "NothingSelectedGivesNothing", .editor = {"--clipboard-text", "old"}},
        CaptureRow{.name = "NoriksOwnClipboard", .editor = {"--select"}, .before = Before::noriksClipboard},
        CaptureRow{.name = "EmptyClipboardKeepsTheCopy",
                   .editor = {"--select"},
                   .before = Before::emptyClipboard,
                   .restored = false},
        CaptureRow{.name = "SecretIsNotWrittenBack",
                   .editor = {"--select", "--clipboard-text", "hunter2", "--secret"},
                   .restored = false},
        CaptureRow{.name = "DvorakLayout", .variant = "dvorak"},
        CaptureRow{.name = "StopOnceTheCopyArrived", .stopOnceCopied = true}),
    [](const ::testing::TestParamInfo<CaptureRow>& row) { return std::string(row.param.name); });

// A terminal gets no Ctrl+C, and a PRIMARY selection it does not own (here Norik's) is not taken for its own; that
// it gives one it owns is the end-to-end tests' terminal review.
TEST_F(X11SelectionCaptureTest, TerminalGetsNoCtrlCAndOnlyItsOwnPrimarySelectionCounts) {
    QGuiApplication::clipboard()->setText(QStringLiteral("old words from elsewhere"), QClipboard::Selection);
    QGuiApplication::clipboard()->setText(QStringLiteral("clipboard stays"), QClipboard::Clipboard);
    const xcb_window_t clipboardOwner = s_session->clipboardOwner();
    const tests::Terminal terminal(*s_session, QStringLiteral("terminal words"), false);
    ASSERT_TRUE(terminal.ready());

    EXPECT_EQ(capture(), std::nullopt);
    EXPECT_EQ(s_session->clipboardOwner(), clipboardOwner);
    // Typed after the capture: a Ctrl+C before it would have ended the shell that reads it.
    s_session->tap({letterZ});
    s_session->tap({returnKey});
    EXPECT_TRUE(waitUntil([&] { return terminal.reply() == "z"; }));
}

// The key that types "c": in the active layout (the Dvorak row above), else in another one, else at the ANSI C
// position.
TEST(CopyKeyCodesTest, FindsCInTheActiveLayoutThenInAnotherThenFallsBackToTheAnsiPosition) {
    constexpr xcb_keycode_t ansiC = 54;
    constexpr xcb_keycode_t ansiI = 31; // where Dvorak has its "c"
    for (const auto& [layouts, variants, active, c] :
         {std::tuple{"ru,us", ",dvorak", 0U, ansiI}, std::tuple{"ru", "", 0U, ansiC},
          std::tuple{"us,us", ",dvorak", 1U, ansiI}}) {
        SCOPED_TRACE(std::string(layouts) + " " + variants);
        const std::unique_ptr<xkb_context, decltype(&xkb_context_unref)> context(xkb_context_new(XKB_CONTEXT_NO_FLAGS),
                                                                                 &xkb_context_unref);
        const xkb_rule_names names{"evdev", "pc105", layouts, variants, ""};
        const std::unique_ptr<xkb_keymap, decltype(&xkb_keymap_unref)> keymap(
            xkb_keymap_new_from_names(context.get(), &names, XKB_KEYMAP_COMPILE_NO_FLAGS), &xkb_keymap_unref);
        ASSERT_NE(keymap, nullptr);
        EXPECT_EQ(copyKeyCodes(keymap.get(), active).c, c);
    }
}

// Trusted where the server offers XTEST is what every end-to-end review needs.
TEST(X11AccessibilityTrustTest, WithoutXtestNotTrustedAndAskingExplainsWhy) {
    const tests::XvfbServer server({"-extension", "XTEST"});
    ASSERT_FALSE(server.display().empty());
    auto connection = platform::x11::XcbConnection::open(server.display().c_str());
    ASSERT_TRUE(connection.has_value());
    QStringList explanations;
    X11AccessibilityTrust trust(connection->get(), [&](const QString& message) { explanations.append(message); });
    EXPECT_FALSE(trust.isTrusted());
    trust.requestTrust();
    ASSERT_EQ(explanations.size(), 1);
    EXPECT_TRUE(explanations[0].contains("XTEST"));
}

} // namespace
} // namespace norik::app
