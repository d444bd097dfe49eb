#pragma once

#include <memory>

class QWidget;

// A page's form (a class generated from its .ui file) set up on the page widget: the page's
// controls as typed members, made children of that widget.
template<typename Form>
std::unique_ptr<Form> setUpPageForm(QWidget *page)
{
    auto form = std::make_unique<Form>();
    form->setupUi(page);
    return form;
}
