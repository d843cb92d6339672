#include "meta_fixture.h"

void MetaTest::SetUp() {
    previous_ = setCurrentUI(&ui_);
}

void MetaTest::TearDown() {
    setCurrentUI(previous_);
}
