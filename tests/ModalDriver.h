// Drives the modal dialogs that code under test opens: records each one and answers it.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QLineEdit>
#include <QList>
#include <QMessageBox>
#include <QQueue>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <utility>

// Each modal dialog that appears while the driver lives is recorded and handed to the next
// queued action. When no action is queued the default action answers it; without a default it
// counts as unexpected and is closed.
class ModalDriver : public QObject
{
public:
    struct Seen {
        QString caption;
        QString text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        bool fileDialog = false;
        QString directory; // where a file dialog started
    };
    using Action = std::function<void(QWidget *)>;

    ModalDriver()
    {
        connect(&m_timer, &QTimer::timeout, this, &ModalDriver::Poll);
        m_timer.start(5);
    }
    // Message boxes are answered with button (other dialogs cancelled), each one that comes.
    explicit ModalDriver(QMessageBox::StandardButton button) : ModalDriver() { m_default = Answer(button); }
    // Message boxes answered with these buttons in turn; the last one answers all the rest.
    explicit ModalDriver(const QList<QMessageBox::StandardButton> &buttons) : ModalDriver()
    {
        for (qsizetype i = 0; i + 1 < buttons.size(); ++i)
            Push(Answer(buttons.at(i)));
        if (!buttons.isEmpty())
            m_default = Answer(buttons.last());
    }

    void Push(Action a) { m_actions.enqueue(std::move(a)); }
    int Pending() const { return static_cast<int>(m_actions.size()); }

    // Clicks button of a message box; any other dialog, or a box without that button, is cancelled.
    static Action Answer(QMessageBox::StandardButton button)
    {
        return [button](QWidget *w) {
            auto *box = qobject_cast<QMessageBox *>(w);
            if (QAbstractButton *b = box ? box->button(button) : nullptr)
                b->click();
            else if (auto *dialog = qobject_cast<QDialog *>(w))
                dialog->reject();
        };
    }
    // Types path into a file dialog's name field, as a user would, and accepts it.
    static Action ChooseFile(const QString &path)
    {
        return [path](QWidget *w) {
            if (auto *dlg = qobject_cast<QFileDialog *>(w)) {
                // selectFile leaves a focused field alone: the text goes in as well.
                dlg->selectFile(path);
                if (auto *edit = dlg->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")))
                    edit->setText(path);
                static_cast<QDialog *>(dlg)->accept(); // QFileDialog::accept via the public base
            } else if (auto *dialog = qobject_cast<QDialog *>(w)) {
                dialog->reject();
            }
        };
    }
    static Action Cancel()
    {
        return [](QWidget *w) {
            if (auto *dialog = qobject_cast<QDialog *>(w))
                dialog->reject();
        };
    }

    QList<Seen> seen;
    int unexpected = 0;
    QStringList filters;   // name filters of the last file dialog
    QString defaultSuffix;

private:
    void Poll()
    {
        QWidget *w = QApplication::activeModalWidget();
        if (!w || w->property("talvexTestHandled").toBool() || !w->isVisible())
            return;
        w->setProperty("talvexTestHandled", true);
        Seen s;
        s.caption = w->windowTitle();
        if (auto *box = qobject_cast<QMessageBox *>(w)) {
            s.text = box->text();
            s.icon = box->icon();
        } else if (auto *dlg = qobject_cast<QFileDialog *>(w)) {
            s.fileDialog = true;
            s.directory = dlg->directory().absolutePath();
            filters = dlg->nameFilters();
            defaultSuffix = dlg->defaultSuffix();
        }
        seen.append(s);
        Action action;
        if (!m_actions.isEmpty()) {
            action = m_actions.dequeue();
        } else if (m_default) {
            action = m_default;
        } else {
            ++unexpected;
            action = Cancel();
        }
        // Run outside this timer's slot: the action may open a nested dialog (the file dialog's
        // "replace?" question), and a timer does not fire again while its slot is running.
        QTimer::singleShot(0, w, [action = std::move(action), w] { action(w); });
    }

    QTimer m_timer;
    QQueue<Action> m_actions;
    Action m_default;
};

// Answers the next modal dialog with action when it is a T (any other is cancelled), and
// remembers whether one came.
template <typename T>
class ModalAnswer
{
public:
    explicit ModalAnswer(std::function<void(T *)> action)
    {
        m_driver.Push([this, action = std::move(action)](QWidget *w) {
            if (auto *t = qobject_cast<T *>(w)) {
                m_seen = true;
                action(t);
            } else {
                ModalDriver::Cancel()(w);
            }
        });
    }
    bool Seen() const { return m_seen; }

private:
    ModalDriver m_driver;
    bool m_seen = false;
};
