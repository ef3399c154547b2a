#pragma once

#include "settings/SettingsRules.h"

#include <QWidget>

class LibraryDb;
class NetworkOptionsBox;
class Prompter;
class QButtonGroup;
class QCheckBox;
class ReadingLookFrame;
class QComboBox;
class QFrame;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class RequestSlot;
struct HttpResult;
struct AppContext;

// The settings tab: reading colours and text size, download folder, auto-start and boss key.
// The controls hold the edited values until "保存设置" writes the settings row and hands the
// page style and the boss key to whoever applies them (the main window wires both).
class SettingsPane : public QWidget
{
    Q_OBJECT
public:
    // programPath: what the auto-start entry starts; empty means this program's own file.
    SettingsPane(AppContext &ctx, Prompter &prompter, QWidget *parent = nullptr, QString programPath = {});

    // Fills the controls from the settings row and announces the stored page style and,
    // when the stored text is complete, the stored boss key.
    void load();
    void save();
    void chooseTextColor();
    void chooseBackColor();
    void chooseDownloadFolder();

    quint32 textColorRgb() const { return m_textColorRgb; }
    quint32 backColorRgb() const { return m_backColorRgb; }

    QGroupBox *readingFrame() const { return m_readingFrame; }
    QGroupBox *systemFrame() const { return m_systemFrame; }
    QFrame *textColorSwatch() const { return m_textSwatch; }
    QFrame *backColorSwatch() const { return m_backSwatch; }
    QPushButton *textColorButton() const { return m_textColorButton; }
    QPushButton *backColorButton() const { return m_backColorButton; }
    QComboBox *textSizeList() const { return m_sizeList; }
    QLineEdit *downloadFolderBox() const { return m_folderBox; }
    QPushButton *downloadFolderButton() const { return m_folderButton; }
    QRadioButton *autoRunYes() const { return m_autoRunYes; }
    QRadioButton *autoRunNo() const { return m_autoRunNo; }
    QComboBox *modifierList() const { return m_modifierList; }
    QLineEdit *keyBox() const { return m_keyBox; }
    QPushButton *saveButton() const { return m_saveButton; }
    // Its own frame in the right-hand column; its options are kept the moment they change.
    QGroupBox *readingHabitFrame() const { return m_habitFrame; }
    QCheckBox *reopenLastBookBox() const { return m_reopenLastBook; }
    ReadingLookFrame *readingLookFrame() const { return m_lookFrame; }
    // Its own frame, apart from "保存设置": "测试连接" asks the server for its start-up answer
    // and keeps the address (Folioway.ini and the running program) when it answers, or when
    // the user wants it kept anyway.
    QGroupBox *serverFrame() const { return m_serverFrame; }
    // Its own small frame in the right-hand column: opens the clean-up rules window.
    QPushButton *textRulesButton() const { return m_textRulesButton; }
    QLineEdit *serverBox() const { return m_serverBox; }
    QPushButton *testServerButton() const { return m_testServer; }
    // Under the address: the frame's switches for downloads and start-up.
    NetworkOptionsBox *networkOptions() const { return m_networkOptions; }
    void testServer();

Q_SIGNALS:
    void pageStyleChanged(const ReadingPageStyle &style);
    // Modifier word and key text as typed; at start-up the two parts of the stored text.
    void bossKeyChanged(const QString &modifier, const QString &key);
    // A "测试连接" has ended; answered tells whether the server gave a valid answer.
    void serverTested(bool answered);

private:
    // The page's style as the library holds it.
    ReadingPageStyle storedPageStyle() const;
    void changeLook(const ReadingLook &look);
    void choosePreset(const ReadingPreset &preset);
    void setTextColor(quint32 rgb);
    void setBackColor(quint32 rgb);
    SettingsForm form() const;
    void tell(const SettingsMessage &message);
    void onServerAnswer(const HttpResult &result);
    void keepServerAddress(const QString &address);

    AppContext &m_ctx;
    Prompter &m_prompter;
    QString m_programPath;
    quint32 m_textColorRgb = 0;
    quint32 m_backColorRgb = 0xFFFFFF;

    QGroupBox *m_readingFrame;
    QGroupBox *m_systemFrame;
    QFrame *m_textSwatch;
    QFrame *m_backSwatch;
    QPushButton *m_textColorButton;
    QPushButton *m_backColorButton;
    QComboBox *m_sizeList;
    QLineEdit *m_folderBox;
    QPushButton *m_folderButton;
    QRadioButton *m_autoRunYes;
    QRadioButton *m_autoRunNo;
    QButtonGroup *m_autoRunGroup;
    QComboBox *m_modifierList;
    QLineEdit *m_keyBox;
    QPushButton *m_saveButton;
    QGroupBox *m_habitFrame;
    QCheckBox *m_reopenLastBook;
    ReadingLookFrame *m_lookFrame;
    QGroupBox *m_serverFrame;
    QLineEdit *m_serverBox;
    QPushButton *m_testServer;
    NetworkOptionsBox *m_networkOptions;
    QGroupBox *m_textRulesFrame;
    QPushButton *m_textRulesButton;
    RequestSlot *m_serverSlot;
    QString m_testedAddress;
};
