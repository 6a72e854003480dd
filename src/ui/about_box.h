#pragma once
// AboutBox: the modal window "Informazioni su Vantrove" with the program's
// name and version, a few lines about it and a paragraph with three links
// (the format's project, the program's site and a donation page) in a
// LinkText. Opened by the "Informazioni" buttons of the create, progress and
// verify dialogs. User-interface thread only.

#include <QDialog>

class QLabel;

namespace vantrove {

class LinkText;

// The version shown in the About box.
constexpr char kProgramVersion[] = "0.9";

// The targets of the three links.
constexpr char kFormatProjectAddress[] = "https://vantrove.example.org/formato";
constexpr char kProgramSiteAddress[] = "https://vantrove.example.org/";
constexpr char kDonationAddress[] = "https://vantrove.example.org/dona";

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
