#pragma once
// AboutBox: the modal window "Informazioni su Vantrove" with the program's
// name and version, a few lines about it and a paragraph with two links in
// a LinkText: the public site of the PAR 2.0 format and the program's own
// manual (index.htm, shipped with the program). There is no donation page,
// so the sentence about support is shown without a link. Opened by the "Informazioni" buttons of the create, progress and
// verify dialogs. User-interface thread only.

#include <QDialog>
#include <QString>

class QLabel;

namespace vantrove {

class LinkText;

// The version shown in the About box.
constexpr char kProgramVersion[] = "0.9";

// The target of the format's link.
constexpr char kFormatProjectAddress[] = "https://parchive.github.io/";

// The target of the program's link: the manual beside the program (or in
// its installed data folder), as a file address.
QString ManualAddress();

class AboutBox : public QDialog {
    Q_OBJECT

  public:
    explicit AboutBox(QWidget* parent = nullptr);

    LinkText* Links() const { return links_; }
    QLabel* VersionLabel() const { return version_; }

  private:
    LinkText* links_ = nullptr;
    QLabel* version_ = nullptr;
};

// Shows the About box modally over `parent`.
void ShowAboutBox(QWidget* parent);

// The program's icon, drawn in code (the window icon of the dialogs too).
QIcon ProgramIcon();

}  // namespace vantrove
