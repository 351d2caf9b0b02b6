// The window translator: the texts of a window's objects from its section of a language
// file (see uStrRes.h). Kept apart from the message table, which needs no widgets.
#include "program/app/uStrRes.h"

#include <QAbstractItemModel>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QTableWidget>
#include <QToolButton>
#include <QWidget>

namespace fp::uStrRes {

namespace {

bool IsExcluded(const QString& name) {
  const QStringList names = QString::fromLatin1(ExcludedComponents).split(QLatin1Char(';'), Qt::SkipEmptyParts);
  return names.contains(name);
}

// Caption rule: a non-empty value becomes the text; otherwise a non-empty current text
// is written back.
template <typename Get, typename Set>
void CaptionRule(TLngFile& file, const QString& section, const QString& key, Get get, Set set) {
  const QString value = DecodeLngText(file.Read(section, key));
  if (!value.isEmpty()) {
    set(value);
    return;
  }
  const QString current = get();
  if (!current.isEmpty()) file.Write(section, key, EncodeLngText(current));
}

// Hint rule on a widget's tool tip (Qt shows every non-empty tool tip, so every widget
// counts as one whose hints are shown).
void HintRule(TLngFile& file, const QString& section, const QString& name, QWidget* w) {
  CaptionRule(
      file, section, name + QStringLiteral(".Hint"), [w] { return w->toolTip(); },
      [w](const QString& v) { w->setToolTip(v); });
}

// A menu item's hint is its status tip (its tool tip falls back to its text).
void MenuHintRule(TLngFile& file, const QString& section, const QString& name, QAction* a) {
  CaptionRule(
      file, section, name + QStringLiteral(".Hint"), [a] { return a->statusTip(); },
      [a](const QString& v) { a->setStatusTip(v); });
}

// Items rule: every item is read, or written back even when empty.
void ItemsRule(TLngFile& file, const QString& section, const QString& name, QComboBox* box) {
  for (int i = 0; i < box->count(); ++i) {
    const QString key = name + QStringLiteral(".Itm") + QString::number(i);
    const QString value = DecodeLngText(file.Read(section, key));
    if (!value.isEmpty())
      box->setItemText(i, value);
    else
      file.Write(section, key, EncodeLngText(box->itemText(i)));
  }
}

// Columns rule: every column title of the view's model is read, or written back even
// when empty.
void ColumnsRule(TLngFile& file, const QString& section, const QString& name, QTableView* view) {
  QAbstractItemModel* model = view->model();
  if (!model) return;
  for (int i = 0; i < model->columnCount(); ++i) {
    const QString key = name + QStringLiteral(".Col") + QString::number(i);
    const QString value = DecodeLngText(file.Read(section, key));
    if (!value.isEmpty())
      model->setHeaderData(i, Qt::Horizontal, value, Qt::DisplayRole);
    else
      file.Write(section, key, EncodeLngText(model->headerData(i, Qt::Horizontal, Qt::DisplayRole).toString()));
  }
}

template <typename W>
void TextAndHint(TLngFile& file, const QString& section, const QString& name, W* w) {
  CaptionRule(
      file, section, name, [w] { return w->text(); }, [w](const QString& v) { w->setText(v); });
  HintRule(file, section, name, w);
}

// A plain container: a frame or widget of no more particular kind (a panel). It has no
// caption of its own, so only its hint is translated.
bool IsPanel(const QObject* o) {
  const QMetaObject* m = o->metaObject();
  return m == &QFrame::staticMetaObject || m == &QWidget::staticMetaObject;
}

}  // namespace

void TranslateComponent(TLngFile& file, const QString& section, QObject* component) {
  if (!component) return;
  const QString name = component->objectName();
  // Objects without a name and Qt's own inner parts ("qt_...") are not the program's.
  if (name.isEmpty() || name.startsWith(QStringLiteral("qt_"))) return;
  if (IsExcluded(name)) return;

  // The kinds in their order; the first that matches applies.
  auto* w = qobject_cast<QWidget*>(component);
  if (w && w->isWindow() && !qobject_cast<QMenu*>(w)) {  // a window
    CaptionRule(
        file, section, name, [w] { return w->windowTitle(); }, [w](const QString& v) { w->setWindowTitle(v); });
  } else if (auto* label = qobject_cast<QLabel*>(component)) {
    TextAndHint(file, section, name, label);
  } else if (auto* group = qobject_cast<QGroupBox*>(component)) {
    CaptionRule(
        file, section, name, [group] { return group->title(); }, [group](const QString& v) { group->setTitle(v); });
    HintRule(file, section, name, group);
  } else if (auto* button = qobject_cast<QPushButton*>(component)) {
    TextAndHint(file, section, name, button);
  } else if (auto* tool = qobject_cast<QToolButton*>(component)) {  // speed buttons
    TextAndHint(file, section, name, tool);
  } else if (auto* combo = qobject_cast<QComboBox*>(component)) {
    HintRule(file, section, name, combo);
    ItemsRule(file, section, name, combo);
  } else if (auto* check = qobject_cast<QCheckBox*>(component)) {
    TextAndHint(file, section, name, check);
  } else if (w && IsPanel(component)) {
    HintRule(file, section, name, w);
  } else if (auto* radio = qobject_cast<QRadioButton*>(component)) {
    TextAndHint(file, section, name, radio);
  } else if (auto* menu = qobject_cast<QMenu*>(component)) {  // a menu item with a submenu
    CaptionRule(
        file, section, name, [menu] { return menu->title(); }, [menu](const QString& v) { menu->setTitle(v); });
    MenuHintRule(file, section, name, menu->menuAction());
  } else if (auto* action = qobject_cast<QAction*>(component)) {  // a menu item
    if (!action->isSeparator())
      CaptionRule(
          file, section, name, [action] { return action->text(); }, [action](const QString& v) { action->setText(v); });
    MenuHintRule(file, section, name, action);
  } else if (auto* grid = qobject_cast<QTableView*>(component); grid && !qobject_cast<QTableWidget*>(grid)) {
    // A data grid is a model/view table; the item-based QTableWidget plays the string
    // grids and value lists, which are left alone.
    HintRule(file, section, name, grid);
    ColumnsRule(file, section, name, grid);
  } else if (auto* edit = qobject_cast<QLineEdit*>(component)) {
    HintRule(file, section, name, edit);
  }
}

bool TranslateFormFromFile(const QString& path, QWidget* window) {
  if (!QFileInfo(path).isFile()) return false;
  if (!window || window->objectName().isEmpty()) return true;
  TLngFile file(path, "TranslateForm");
  const QString section = window->objectName();
  const QList<QObject*> owned = window->findChildren<QObject*>();
  TranslateComponent(file, section, window);
  for (QObject* o : owned) TranslateComponent(file, section, o);
  return true;
}

void TranslateForm(const QString& fileName, QWidget* window) { TranslateFormFromFile(LngFilePath(fileName), window); }

}  // namespace fp::uStrRes
