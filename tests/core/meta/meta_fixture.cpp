#include "meta_fixture.h"

#include "core/meta/special_tags.h"

void MetaTest::SetUp() {
    resetSpecialTags();
    initSpecialTags();
    previous_ = setCurrentUI(&ui_);
}

void MetaTest::TearDown() {
    setCurrentUI(previous_);
    resetSpecialTags();
}
