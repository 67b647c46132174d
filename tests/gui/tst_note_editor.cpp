// The note editor on its own: the text going in and out unchanged, the record
// form kept in step with every edit, links found as the text changes, and the
// press/release reports over links.
#include "catalog/Catalog.h"
#include "gui/common/Codec.h"
#include "gui/editor/NoteEditor.h"
#include "gui/editor/RecordMirror.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>

#include <random>

using namespace qv;

namespace {

void sendMouse(QWidget *w, QEvent::Type type, Qt::MouseButton button, QPoint pos)
{
    const Qt::MouseButtons held
        = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(button);
    QMouseEvent e(type, QPointF(pos), w->mapToGlobal(QPointF(pos)), button, held, Qt::NoModifier);
    QCoreApplication::sendEvent(w, &e);
}

void click(QWidget *w, Qt::MouseButton button, QPoint pressAt, QPoint releaseAt)
{
    sendMouse(w, QEvent::MouseButtonPress, button, pressAt);
    sendMouse(w, QEvent::MouseButtonRelease, button, releaseAt);
}

} // namespace

class NoteEditorTest : public QObject {
    Q_OBJECT

    NoteEditor *ed = nullptr;

    // A viewport point over the character at a document position.
    QPoint pointAt(int position)
    {
        QTextCursor c(ed->document());
        c.setPosition(position);
        const QRect r = ed->cursorRect(c);
        return QPoint(r.left() + 2, r.center().y());
    }
    // A viewport point on plain text past the end of the last line.
    QPoint pointPastText() { return QPoint(ed->viewport()->width() - 5, ed->viewport()->height() - 5); }

private slots:
    void init()
    {
        ed = new NoteEditor;
        ed->resize(500, 300);
        ed->show();
        QVERIFY(QTest::qWaitForWindowExposed(ed));
    }
    void cleanup()
    {
        delete ed;
        ed = nullptr;
    }

    void textComesBackUnchanged_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("empty") << QString();
        QTest::newRow("no-break spaces") << QStringLiteral("a\u00A0b\u00A0\u00A0c\u00A0");
        QTest::newRow("line breaks") << QStringLiteral("first\r\nsecond\r\n\r\nfourth");
        QTest::newRow("trailing break") << QStringLiteral("line\r\n");
        QTest::newRow("breaks only") << QStringLiteral("\r\n\r\n");
        QTest::newRow("cyrillic and tabs") << QStringLiteral("Привет,\tмир!\r\n\tёЁ №");
        QTest::newRow("leading and trailing blanks") << QStringLiteral("  x  \r\n  ");
        QTest::newRow("lone line feeds") << QStringLiteral("a\nb\r\n\nc\n");
    }
    void textComesBackUnchanged()
    {
        QFETCH(QString, text);
        ed->setNoteText(text);
        QCOMPARE(ed->noteText(), text);
        // and byte for byte through the code page and the record's "~~"
        const qv::Bytes bytes = qv::fromQ(text);
        QCOMPARE(qv::fromQ(ed->noteText()), bytes);
        QCOMPARE(ed->textCursor().position(), 0);
        QVERIFY(!ed->textCursor().hasSelection());
    }

    void loneLineFeedStaysAndOtherBreaksComeBackAsCrLf()
    {
        ed->setNoteText(QStringLiteral("a\nb\rc\r\nd\u2029e"));
        QCOMPARE(ed->noteText(), QStringLiteral("a\nb\r\nc\r\nd\r\ne"));
        QCOMPARE(NoteEditor::normalised(QStringLiteral("a\nb\rc\r\nd\u2029e")), ed->noteText());
        RecordMirror mirror(ed->document());
        QCOMPARE(mirror.bytes(), qv::Bytes("a\nb~~c~~d~~e"));
    }

    void shiftEnterMakesAnOrdinaryBreak()
    {
        ed->setFocus();
        QTest::keyClicks(ed, QStringLiteral("ab"));
        QTest::keyClick(ed, Qt::Key_Return, Qt::ShiftModifier);
        QTest::keyClicks(ed, QStringLiteral("c"));
        QCOMPARE(ed->noteText(), QStringLiteral("ab\r\nc"));
        QCOMPARE(ed->document()->blockCount(), 2);
    }

    void clipboardCarriesPlainTextOnly()
    {
        auto *rich = new QMimeData;
        rich->setHtml(QStringLiteral("<b>bold</b>"));
        rich->setText(QStringLiteral("plain\nline"));
        QGuiApplication::clipboard()->setMimeData(rich);
        ed->setNoteText(QStringLiteral("X"));
        ed->moveCursor(QTextCursor::End);
        QVERIFY(ed->canPaste());
        ed->paste();
        QCOMPARE(ed->noteText(), QStringLiteral("Xplain\r\nline"));
        // one character format all over: nothing bold came in
        for (QTextBlock b = ed->document()->begin(); b.isValid(); b = b.next())
            for (auto it = b.begin(); !it.atEnd(); ++it)
                QVERIFY(it.fragment().charFormat().fontWeight() != QFont::Bold);

        auto *image = new QMimeData;
        image->setImageData(QImage(2, 2, QImage::Format_RGB32));
        QGuiApplication::clipboard()->setMimeData(image);
        QVERIFY(!ed->canPaste());

        // Copy gives plain text with every character as the note holds it,
        // so copying within a note keeps its no-break spaces.
        ed->setNoteText(QStringLiteral("a\u00A0b\r\nc\nd"));
        ed->selectAll();
        ed->copy();
        const QMimeData *copied = QGuiApplication::clipboard()->mimeData();
        QCOMPARE(copied->formats(), QStringList{QStringLiteral("text/plain")});
        QCOMPARE(copied->text(), QStringLiteral("a\u00A0b\nc\nd"));
        ed->moveCursor(QTextCursor::End);
        ed->paste();
        QCOMPARE(ed->noteText(), QStringLiteral("a\u00A0b\r\nc\nda\u00A0b\r\nc\r\nd"));
    }

    // A note holds at most 16,777,215 characters (a line break is one):
    // typing and pasting fill it exactly, and not one character more.
    void typingAndPastingStopAtTheCap()
    {
        const int cap = 16777215;
        const int used = cap - 2;
        const QString line = QString(999, QLatin1Char('x')) + QStringLiteral("\r\n"); // 1,000 characters
        ed->setNoteText(line.repeated(used / 1000) + QString(used % 1000, QLatin1Char('y')));
        const auto length = [this] { return ed->document()->characterCount() - 1; };
        QCOMPARE(length(), used);

        ed->setFocus();
        ed->moveCursor(QTextCursor::End);
        QTest::keyClicks(ed, QStringLiteral("abc"));
        QCOMPARE(length(), cap);
        QVERIFY(ed->noteText().endsWith(QStringLiteral("yab")));

        QTest::keyClick(ed, Qt::Key_Backspace);
        QTest::keyClick(ed, Qt::Key_Backspace);
        QGuiApplication::clipboard()->setText(QStringLiteral("pqr"));
        ed->paste();
        QCOMPARE(length(), cap);
        QVERIFY(ed->noteText().endsWith(QStringLiteral("ypq")));
    }

    // The record form is patched change by change; after any sequence of
    // edits it must equal a conversion of the whole text.
    void recordFormFollowsEveryEdit()
    {
        RecordMirror mirror(ed->document());
        std::mt19937 rng(7);
        const QStringList pieces = {QStringLiteral("a"),
                                    QStringLiteral("\n"),
                                    QStringLiteral("Жж"),
                                    QStringLiteral("x\ny\n"),
                                    QStringLiteral("\u00A0"),
                                    QStringLiteral("~~"),
                                    QStringLiteral("http://q.example/"),
                                    QStringLiteral("\n\n"),
                                    QStringLiteral("lone\u2028feed")};
        ed->setNoteText(QStringLiteral("start\r\nof\nthe note"));
        for (int step = 0; step < 400; ++step) {
            const int len = ed->document()->characterCount() - 1;
            QTextCursor c(ed->document());
            const int a = int(rng() % unsigned(len + 1));
            const int b = int(rng() % unsigned(len + 1));
            switch (rng() % 6) {
            case 0:
            case 1:
                c.setPosition(a);
                c.insertText(pieces[rng() % pieces.size()]);
                break;
            case 2:
                c.setPosition(a);
                c.setPosition(b, QTextCursor::KeepAnchor);
                c.removeSelectedText();
                break;
            case 3:
                c.setPosition(a);
                c.setPosition(b, QTextCursor::KeepAnchor);
                c.beginEditBlock();
                c.insertText(pieces[rng() % pieces.size()]);
                c.insertText(pieces[rng() % pieces.size()]);
                c.endEditBlock();
                break;
            case 4:
                ed->undo();
                break;
            case 5:
                if (rng() % 8 == 0)
                    ed->setNoteText(QStringLiteral("fresh\r\ntext"));
                else
                    ed->redo();
                break;
            }
            const qv::Bytes expected = qv::editorToRecord(qv::fromQ(ed->noteText()));
            QCOMPARE(mirror.bytes(), expected);
        }
        // Small edits are patched, not converted whole.
        QVERIFY(mirror.patches() > mirror.rebuilds());
    }

    void linksFollowTypingPasteUndoAndLoad()
    {
        auto linkTexts = [this] {
            QStringList out;
            for (const auto &r : ed->links())
                out << ed->textOfRange(r.start, r.end);
            return out;
        };
        ed->setNoteText(QStringLiteral("first line\r\nhttp://loaded.example here"));
        QCOMPARE(linkTexts(), QStringList{QStringLiteral("http://loaded.example")});
        QCOMPARE(ed->linkAt(11).start, 11);
        QCOMPARE(ed->linkAt(31).end, 32);
        QCOMPARE(ed->linkAt(10).start, -1);
        QCOMPARE(ed->linkAt(32).start, -1);

        ed->setFocus();
        ed->moveCursor(QTextCursor::Start);
        QTest::keyClicks(ed, QStringLiteral("www.typed.example "));
        QCOMPARE(linkTexts(),
                 (QStringList{QStringLiteral("www.typed.example"), QStringLiteral("http://loaded.example")}));

        ed->moveCursor(QTextCursor::End);
        ed->insertPlainText(QStringLiteral(" ftp://pasted.example"));
        QCOMPARE(linkTexts().size(), 3);
        QCOMPARE(linkTexts().last(), QStringLiteral("ftp://pasted.example"));

        ed->undo();
        QCOMPARE(linkTexts().size(), 2);
        // Editing a link in place changes its extent.
        QTextCursor c(ed->document());
        c.setPosition(3);
        c.insertText(QStringLiteral(" "));
        QVERIFY(!linkTexts().contains(QStringLiteral("www.typed.example")));
    }

    void linkPressesAndReleases()
    {
        // Two links side by side on one line, plain text after them.
        ed->setNoteText(QStringLiteral("http://one.example http://two.example plain"));
        QSignalSpy clicks(ed, &NoteEditor::urlClick);
        const QPoint one = pointAt(3), oneAgain = pointAt(10), two = pointAt(23), plain = pointAt(40);
        QWidget *vp = ed->viewport();

        // press and release on one link: one click with its text
        click(vp, Qt::LeftButton, one, oneAgain);
        QCOMPARE(clicks.size(), 1);
        QCOMPARE(clicks[0][0].toString(), QStringLiteral("http://one.example"));
        QCOMPARE(clicks[0][1].value<Qt::MouseButton>(), Qt::LeftButton);
        QCOMPARE(ed->pendingRange().start, -1);

        // press on one link, release on the other: none, and the press is gone
        click(vp, Qt::LeftButton, one, two);
        QCOMPARE(clicks.size(), 1);
        QCOMPARE(ed->pendingRange().start, -1);

        // press off any link, release on one: none
        click(vp, Qt::LeftButton, plain, one);
        QCOMPARE(clicks.size(), 1);

        // press on a link, release off it: the press stays recorded
        click(vp, Qt::LeftButton, two, plain);
        QCOMPARE(clicks.size(), 1);
        QCOMPARE(ed->pendingRange().start, 19);
        // ... and a later release on that link completes it
        sendMouse(vp, QEvent::MouseButtonRelease, Qt::LeftButton, two);
        QCOMPARE(clicks.size(), 2);
        QCOMPARE(clicks[1][0].toString(), QStringLiteral("http://two.example"));

        // left press, right release on the same link: buttons differ, none
        sendMouse(vp, QEvent::MouseButtonPress, Qt::LeftButton, one);
        sendMouse(vp, QEvent::MouseButtonRelease, Qt::RightButton, one);
        QCOMPARE(clicks.size(), 2);
        QCOMPARE(ed->pendingRange().start, -1);
        QCOMPARE(ed->pendingButton(), Qt::LeftButton);

        // right click: reported with the right button
        click(vp, Qt::RightButton, two, two);
        QCOMPARE(clicks.size(), 3);
        QCOMPARE(clicks[2][1].value<Qt::MouseButton>(), Qt::RightButton);

        // the middle button is never reported
        click(vp, Qt::MiddleButton, one, one);
        QCOMPARE(clicks.size(), 3);

        // a double-click makes exactly one click
        sendMouse(vp, QEvent::MouseButtonPress, Qt::LeftButton, one);
        sendMouse(vp, QEvent::MouseButtonRelease, Qt::LeftButton, one);
        sendMouse(vp, QEvent::MouseButtonDblClick, Qt::LeftButton, one);
        sendMouse(vp, QEvent::MouseButtonRelease, Qt::LeftButton, one);
        QCOMPARE(clicks.size(), 4);
    }

    void mouseDownComesAfterTheLinkIsRecorded()
    {
        ed->setNoteText(QStringLiteral("www.a.example text"));
        QList<std::pair<Qt::MouseButton, int>> seen;
        connect(ed, &NoteEditor::mouseDown, this, [&](Qt::MouseButton b) {
            seen.append({b, ed->pendingRange().start});
        });
        sendMouse(ed->viewport(), QEvent::MouseButtonPress, Qt::RightButton, pointAt(2));
        sendMouse(ed->viewport(), QEvent::MouseButtonPress, Qt::LeftButton, pointAt(16));
        sendMouse(ed->viewport(), QEvent::MouseButtonPress, Qt::MiddleButton, pointAt(16));
        QCOMPARE(seen.size(), 3);
        QCOMPARE(seen[0], std::make_pair(Qt::RightButton, 0));
        QCOMPARE(seen[1].first, Qt::LeftButton); // off the link: the right press stays recorded
        QCOMPARE(seen[1].second, 0);
        QCOMPARE(seen[2].first, Qt::MiddleButton);
    }

    void clickStillPlacesTheCaret()
    {
        ed->setNoteText(QStringLiteral("abc http://x.example def"));
        click(ed->viewport(), Qt::LeftButton, pointAt(4), pointAt(4));
        QCOMPARE(ed->textCursor().position(), 4);
    }

    void leftStripSelectsLines()
    {
        ed->setNoteText(QStringLiteral("alpha\r\nbeta\r\ngamma\r\ndelta"));
        auto stripPoint = [this](int block) {
            return QPoint(1, pointAt(ed->document()->findBlockByNumber(block).position()).y());
        };
        click(ed->viewport(), Qt::LeftButton, stripPoint(1), stripPoint(1));
        QCOMPARE(ed->textCursor().selectedText(), QStringLiteral("beta\u2029"));

        // dragging down the strip takes whole lines
        sendMouse(ed->viewport(), QEvent::MouseButtonPress, Qt::LeftButton, stripPoint(1));
        QMouseEvent move(QEvent::MouseMove, QPointF(stripPoint(3)),
                         ed->viewport()->mapToGlobal(QPointF(stripPoint(3))), Qt::NoButton, Qt::LeftButton,
                         Qt::NoModifier);
        QCoreApplication::sendEvent(ed->viewport(), &move);
        sendMouse(ed->viewport(), QEvent::MouseButtonRelease, Qt::LeftButton, stripPoint(3));
        QCOMPARE(ed->textCursor().selectedText(), QStringLiteral("beta\u2029gamma\u2029delta"));

        // a click on the text itself only places the caret
        click(ed->viewport(), Qt::LeftButton, pointAt(2), pointAt(2));
        QVERIFY(!ed->textCursor().hasSelection());
    }

    // A drag goes by characters inside the word it began in and by whole
    // words once it leaves it, in either direction.
    void dragSelectionTakesWholeWords_data()
    {
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("to");
        QTest::addColumn<QString>("selected");
        QTest::newRow("inside one word") << 1 << 3 << QStringLiteral("lp");
        QTest::newRow("forward into the next word") << 2 << 8 << QStringLiteral("alpha beta");
        QTest::newRow("backward into the previous word") << 13 << 8 << QStringLiteral("beta gamma");
    }
    void dragSelectionTakesWholeWords()
    {
        QFETCH(int, from);
        QFETCH(int, to);
        QFETCH(QString, selected);
        ed->setNoteText(QStringLiteral("alpha beta gamma"));
        sendMouse(ed->viewport(), QEvent::MouseButtonPress, Qt::LeftButton, pointAt(from));
        QMouseEvent move(QEvent::MouseMove, QPointF(pointAt(to)),
                         ed->viewport()->mapToGlobal(QPointF(pointAt(to))), Qt::NoButton, Qt::LeftButton,
                         Qt::NoModifier);
        QCoreApplication::sendEvent(ed->viewport(), &move);
        sendMouse(ed->viewport(), QEvent::MouseButtonRelease, Qt::LeftButton, pointAt(to));
        QCOMPARE(ed->textCursor().selectedText(), selected);
    }
};

QTEST_MAIN(NoteEditorTest)
#include "tst_note_editor.moc"
