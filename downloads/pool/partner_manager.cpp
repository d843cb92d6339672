#include "downloads/pool/partner_manager.h"

#include "core/meta/user_meta.h"
#include "core/ui/ui_gateway.h"
#include "downloads/file_source_interface.h"
#include "downloads/pool/dl_pool.h"
#include "downloads/pool/download.h"
#include "downloads/source_peer.h"
#include "downloads/storage/download_services.h"
#include "v4ada/string/text_convert.h"

namespace {
PartnerManager* gPartners = nullptr;
}  // namespace

PartnerManager* PartnerManager::instance() { return gPartners; }

void PartnerManager::createInstance() {
    if (!gPartners) gPartners = new PartnerManager();
}

void PartnerManager::destroyInstance() {
    delete gPartners;
    gPartners = nullptr;
}

bool PartnerManager::onHighest(FileSourceInterface* source) const {
    return highest_ != nullptr && source != nullptr && source->download() == static_cast<DownloadInterface*>(highest_);
}

int PartnerManager::occupied() const {
    int count = 0;
    for (FileSourceInterface* source : partners_) count += source != nullptr;
    return count;
}

void PartnerManager::setKeep(FileSourceInterface* source, bool keep) {
    if (SourcePeer* connection = source->connection()) connection->setKeep(keep);
}

void PartnerManager::leavePriorityList(FileSourceInterface* source) {
    UploadSide* uploads = downloadServices().uploads;
    UserMeta* user = source->userMeta();
    if (uploads && user) uploads->removePriorityUser(*user);
}

FileSourceInterface* PartnerManager::freeSlot(int index) {
    FileSourceInterface* source = partners_[index];
    partners_[index] = nullptr;
    setKeep(source, false);
    if (onHighest(source)) countOnHighest_--;
    return source;
}

void PartnerManager::setHighest(Download* download) {
    if (download == highest_) return;
    highest_ = download;
    countOnHighest_ = 0;
    for (FileSourceInterface* source : partners_) countOnHighest_ += onHighest(source);
}

bool PartnerManager::acceptPartner(SourcePeer* connection, const UniqueID& hash) {
    if (connection == nullptr) return false;
    UserMeta* asker = connection->user();
    for (FileSourceInterface* source : partners_) {
        UserMeta* user = source ? source->userMeta() : nullptr;
        if (user && asker && user->sameUser(asker)) return true;
    }
    if (highest_ == nullptr) return false;
    Download* download = nullptr;
    bool referenced = false;
    if (highest_->fileHash().equals(hash)) {
        if (!hasRoom()) return false;
        download = highest_;
    } else {
        DLPool* pool = DLPool::instance();
        download = pool ? pool->findDownload(hash) : nullptr;
        if (download == nullptr) return false;
        referenced = true;
        if (occupied() >= 3) {
            download->release();
            return false;
        }
    }
    download->partnerRequested(connection);
    if (referenced) download->release();
    return true;
}

bool PartnerManager::wantsPartner(FileSourceInterface* source) {
    if (countOnHighest_ <= 3) return true;
    double rank = getRank(source);
    for (FileSourceInterface* other : partners_) {
        if (other && other != source && rank > getRank(other)) return true;
    }
    return false;
}

void PartnerManager::addPartner(FileSourceInterface* source) {
    if (source == nullptr) return;
    for (FileSourceInterface* held : partners_) {
        if (held == source) {
            setKeep(source, true);
            return;
        }
    }
    for (FileSourceInterface*& free : partners_) {
        if (free != nullptr) continue;
        free = source;
        if (onHighest(source)) countOnHighest_++;
        setKeep(source, true);
        return;
    }
    for (int i = 0; i < kSlots; i++) {
        if (onHighest(partners_[i])) continue;
        FileSourceInterface* old = freeSlot(i);
        old->stopPartner();
        partners_[i] = source;
        if (onHighest(source)) countOnHighest_++;
        leavePriorityList(old);
        setKeep(source, true);
        return;
    }
}

void PartnerManager::removePartner(FileSourceInterface* source) {
    if (source == nullptr) return;
    for (int i = 0; i < kSlots; i++) {
        if (partners_[i] != source) continue;
        freeSlot(i);
        leavePriorityList(source);
    }
}

void PartnerManager::dropWorst() {
    if (countOnHighest_ < kSlots) return;
    int worst = 0;
    double best = kRankCeiling;
    for (int i = 0; i < kSlots; i++) {
        if (partners_[i] == nullptr) continue;
        double rank = getRank(partners_[i]);
        if (rank < best) {
            best = rank;
            worst = i;
        }
    }
    if (partners_[worst] == nullptr) return;
    FileSourceInterface* source = freeSlot(worst);
    source->stopPartner();
    leavePriorityList(source);
}

double PartnerManager::getRank(FileSourceInterface* source) {
    if (source == nullptr) {
        if (UIGateway* ui = currentUI()) ui->printRaw("ERROR: PartnerManager::getRank(NULL)\n");
        return -1.0;
    }
    return source->getSpeed();
}

bool PartnerManager::isPartner(SourcePeer* connection) {
    if (connection == nullptr) return false;
    for (FileSourceInterface* source : partners_) {
        if (source && source->connection() == connection) return true;
    }
    return false;
}

void PartnerManager::peerClosed(SourcePeer* connection) {
    if (connection == nullptr) return;
    for (int i = 0; i < kSlots; i++) {
        if (partners_[i] == nullptr || partners_[i]->connection() != connection) continue;
        FileSourceInterface* source = freeSlot(i);
        source->stopPartner();
        return;
    }
}

void PartnerManager::print() {
    UIGateway* ui = currentUI();
    if (ui == nullptr) return;
    ui->print("Partners: ");
    OwnedString name;
    if (highest_ && highest_->partialFile()) name = highest_->partialFile()->name();
    if (highest_ && !name.isNull()) {
        ui->print("Highest: %s", printableText(name.c_str()).c_str());
    } else {
        ui->print("Highest: NULL");
    }
    for (int i = 0; i < kSlots; i++) {
        UserMeta* user = partners_[i] ? partners_[i]->userMeta() : nullptr;
        if (user) {
            ui->print("%d) %s", i, printableText(user->nickname()).c_str());
        } else {
            ui->print("%d) NULL", i);
        }
    }
}
