#pragma once

#include "TagPool.h"

#include <QObject>
#include <QStringList>

#include <functional>
#include <memory>

namespace Ui {
class tsPortTag;
}
class QCheckBox;
class QLineEdit;
class QWidget;
class TfrmPreSettingEdit;

// The "Port Tag" page: the twelve read-only tag edits, which are the tag store every page
// reads, their editing in TfrmPreSettingEdit with the two name pools, and the "Display tags"
// option. Where tags are stored is the window's business: it gives the page a loader and a
// saver for the current control mode and switcher.
class PortTagPage final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(PortTagPage)
public:
    struct Store
    {
        std::function<PortTags()> load; // tags of the current mode and switcher
        std::function<void(const PortTags &)> save; // writes them there
    };

    // Sets up the page's form (leInput1Tag … leOutput8Tag and the two Edit buttons) on page, an
    // empty tab of the window or a widget of a test. cbDisplayTag is the General page's option.
    PortTagPage(QWidget *page, QCheckBox *cbDisplayTag, TfrmPreSettingEdit &editor, Store store,
        QObject *parent = nullptr);
    ~PortTagPage() override;

    // The tag edit carrying a number: 1–8 inputs, 41–48 outputs.
    QLineEdit *FindTagEdit(int number) const;
    QString inputTag(int n) const;
    QString outputTag(int n) const;
    PortTags tags() const;

    QStringList pool(TagSide side) const;
    void setPools(const QStringList &inputs, const QStringList &outputs);
    bool displayTag() const;
    void setDisplayTag(bool on);

public Q_SLOTS:
    void btnEditInputPortTagClick();
    void btnEditOutputPortTagClick();
    void LoadPortTags();
    void ClearPortTags();
    void SavePortTags();

Q_SIGNALS:
    // The twelve tags as shown now, after every load, clear or accepted edit.
    void tagsChanged(const QStringList &inputs, const QStringList &outputs);
    void displayTagsChanged(bool on);
    // A pool changed in the editor (added on OK, removed by "×", even on Cancel).
    void poolsChanged(const QStringList &inputs, const QStringList &outputs);

private:
    void editTags(TagSide side);
    void showTags(const PortTags &tags);
    void announceTags();

    QWidget *m_page;
    std::unique_ptr<Ui::tsPortTag> ui;
    QCheckBox *m_displayTag;
    TfrmPreSettingEdit &m_editor;
    Store m_store;
};
