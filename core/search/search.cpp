#include "core/search/search.h"

#include "core/search/search_node.h"

Search::~Search() { delete root_; }

void Search::add(SearchNode* node, uint8_t op) {
    if (!node) return;
    root_ = root_ ? new SN_Compound(op, root_, node) : node;
}

bool Search::toNetwork(i4_file* file) { return root_ != nullptr && root_->toNetwork(file); }

bool Search::fromNetwork(i4_file* file) {
    reset();
    root_ = SearchNode::makeFromNetwork(file);
    return root_ != nullptr;
}

int Search::wireSize() { return root_ ? root_->wireSize() : 0; }

void Search::reset() {
    delete root_;
    root_ = nullptr;
    keyword_ = "";
}

const OwnedString& Search::takeKeyword() {
    if (!keyword_.isEmpty()) return keyword_;
    if (root_) root_ = root_->extractKeyword(keyword_);
    if (!root_) root_ = new SN_MatchAll();
    return keyword_;
}
