// SPDX-License-Identifier: GPL-3.0-or-later
// The other application of the capture tests: a line editor that copies its selection on Ctrl+C and
// reports each key it receives, or (with --dump) a reader that prints what the clipboard holds.
#include <QApplication>
#include <QClipboard>
#include <QCommandLineParser>
#include <QEventLoop>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMimeData>
#include <cstdio>

namespace {

void say(const QByteArray& line) {
    std::puts(line.constData());
    std::fflush(stdout);
}

// Reports the keys that reach the editor, and when its window gets the focus.
class KeyReporter final : public QObject {
protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        // Each key reaches the window first and then the editor; the editor's copy is the one reported.
        if (watched->isWidgetType() && event->type() == QEvent::KeyPress) {
            const auto* key = static_cast<QKeyEvent*>(event);
            say("key " + QByteArray::number(key->key()) + " " + QByteArray::number(key->modifiers().toInt()));
        } else if (watched->isWidgetType() && event->type() == QEvent::FocusIn) {
            say("focused");
        }
        return false;
    }
};

int dump() {
    // Protocol targets change with every owner (TIMESTAMP) or describe the others; they are not contents.
    const QStringList protocol{"TARGETS", "TIMESTAMP", "MULTIPLE", "SAVE_TARGETS"};
    if (const QMimeData* data = QGuiApplication::clipboard()->mimeData(QClipboard::Clipboard)) {
        for (const QString& format : data->formats()) {
            if (!protocol.contains(format)) {
                say("format " + format.toUtf8() + " " + data->data(format).toBase64());
            }
        }
    }
    say("end");
    return 0;
}

// Lists formats and answers no request for one: each request, reported, runs an event loop that never ends, so the
// editor goes on working while the requestor waits.
class SilentMimeData final : public QMimeData {
public:
    [[nodiscard]] QStringList formats() const override { return {"text/plain", "text/html", "x-norik/a", "x-norik/b"}; }

protected:
    QVariant retrieveData(const QString& format, QMetaType) const override {
        say("asked " + format.toUtf8());
        QEventLoop().exec();
        return {};
    }
};

} // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QCommandLineParser parser;
    parser.addOptions({{"text", "editor text", "text"},
                       {"select", "select all of the text"},
                       {"clipboard-text", "clipboard plain text first", "text"},
                       {"clipboard-bytes", "as many patterned bytes as x-norik/bytes first", "count"},
                       {"clipboard-silent", "formats on the clipboard that are never delivered"},
                       {"secret", "mark the clipboard as a password manager's secret"},
                       {"dump", "print the clipboard's formats and exit"}});
    parser.process(application);
    if (parser.isSet("dump")) {
        return dump();
    }

    QMimeData* data = parser.isSet("clipboard-silent") ? new SilentMimeData : new QMimeData;
    if (parser.isSet("clipboard-text")) {
        data->setText(parser.value("clipboard-text"));
    }
    if (parser.isSet("clipboard-bytes")) {
        QByteArray bytes(parser.value("clipboard-bytes").toLongLong(), Qt::Uninitialized);
        for (qsizetype index = 0; index < bytes.size(); ++index) {
            bytes[index] = static_cast<char>((index * 7 + index / 251) & 0xFF);
        }
        data->setData(QStringLiteral("x-norik/bytes"), bytes);
    }
    if (parser.isSet("secret")) {
        data->setData(QStringLiteral("x-kde-passwordManagerHint"), "secret");
    }
    if (data->formats().isEmpty()) {
        delete data;
    } else {
        QGuiApplication::clipboard()->setMimeData(data, QClipboard::Clipboard);
    }

    KeyReporter reporter;
    application.installEventFilter(&reporter);
    QLineEdit editor(parser.value("text"));
    if (parser.isSet("select")) {
        editor.selectAll();
    }
    editor.resize(320, 40);
    editor.show();
    say("window " + QByteArray::number(static_cast<qulonglong>(editor.winId())));
    return QApplication::exec();
}
