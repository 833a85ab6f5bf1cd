// SPDX-License-Identifier: GPL-3.0-or-later
// The other application of the capture tests: a line editor that copies its selection on Ctrl+C and
// reports each key it receives, or (with --dump) a reader that prints what the clipboard holds.
//   norik_capture_test_editor [--text T] [--select] [--clipboard-text T] [--clipboard-html H]
//                             [--clipboard-png] [--secret]
//   norik_capture_test_editor --dump
#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QCommandLineParser>
#include <QImage>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMimeData>
#include <cstdio>

namespace {

void say(const QByteArray& line) {
    std::fputs(line.constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// Reports the keys that reach the editor, and when its window gets the focus.
class KeyReporter final : public QObject {
protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        // Each key reaches the window first and then the editor; the editor's copy is the one reported.
        if (!watched->isWidgetType()) {
            return false;
        }
        if (event->type() == QEvent::KeyPress) {
            const auto* key = static_cast<QKeyEvent*>(event);
            say("key " + QByteArray::number(key->key()) + " " +
                QByteArray::number(static_cast<int>(key->modifiers().toInt())));
        } else if (event->type() == QEvent::FocusIn) {
            say("focused");
        }
        return false;
    }
};

// Protocol targets change with every owner (TIMESTAMP) or describe the others; they are not contents.
bool isContents(const QString& format) {
    return format != QLatin1String("TARGETS") && format != QLatin1String("TIMESTAMP") &&
           format != QLatin1String("MULTIPLE") && format != QLatin1String("SAVE_TARGETS");
}

int dump() {
    const QMimeData* data = QGuiApplication::clipboard()->mimeData(QClipboard::Clipboard);
    if (data != nullptr) {
        for (const QString& format : data->formats()) {
            if (isContents(format)) {
                say("format " + format.toUtf8() + " " + data->data(format).toBase64());
            }
        }
    }
    say("end");
    return 0;
}

QByteArray testPng() {
    QImage image(16, 8, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            image.setPixel(x, y, qRgb(x * 16, y * 32, 99));
        }
    }
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png;
}

} // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption text("text", "editor text", "text");
    const QCommandLineOption select("select", "select all of the text");
    const QCommandLineOption clipboardText("clipboard-text", "clipboard plain text first", "text");
    const QCommandLineOption clipboardHtml("clipboard-html", "clipboard HTML first", "html");
    const QCommandLineOption clipboardPng("clipboard-png", "a PNG image on the clipboard first");
    const QCommandLineOption secret("secret", "mark the clipboard as a password manager's secret");
    const QCommandLineOption dumpClipboard("dump", "print the clipboard's formats and exit");
    parser.addOptions({text, select, clipboardText, clipboardHtml, clipboardPng, secret, dumpClipboard});
    parser.process(application);
    if (parser.isSet(dumpClipboard)) {
        return dump();
    }

    if (parser.isSet(clipboardText) || parser.isSet(clipboardHtml) || parser.isSet(clipboardPng)) {
        auto* data = new QMimeData;
        if (parser.isSet(clipboardText)) {
            data->setText(parser.value(clipboardText));
        }
        if (parser.isSet(clipboardHtml)) {
            data->setHtml(parser.value(clipboardHtml));
        }
        if (parser.isSet(clipboardPng)) {
            data->setData(QStringLiteral("image/png"), testPng());
        }
        if (parser.isSet(secret)) {
            data->setData(QStringLiteral("x-kde-passwordManagerHint"), "secret");
        }
        QGuiApplication::clipboard()->setMimeData(data, QClipboard::Clipboard);
    }

    KeyReporter reporter;
    application.installEventFilter(&reporter);
    QLineEdit editor;
    editor.setText(parser.value(text));
    if (parser.isSet(select)) {
        editor.selectAll();
    } else {
        editor.deselect();
    }
    editor.setWindowTitle(QStringLiteral("capture test editor"));
    editor.resize(320, 40);
    editor.show();
    say("window " + QByteArray::number(static_cast<qulonglong>(editor.winId())));
    return QApplication::exec();
}
