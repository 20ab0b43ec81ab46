#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class frmAbout;
}
class QLabel;

// "Version: 1.0 Beta - Build 1" for version 1.0.1.
QString versionText(int major, int minor, int revision);

// The About box: product name, version, the maker's notices and three labels
// that open the maker's web site. Made afresh for every showing.
class frmAbout : public QDialog {
    Q_OBJECT

public:
    explicit frmAbout(QWidget *parent = nullptr);
    ~frmAbout() override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void Form_Load();
    void cmdOK_Click();
    void lblProduct_Click();
    void lblURL_Click();
    void lblCopyright_Click();

    std::unique_ptr<Ui::frmAbout> ui;
};
