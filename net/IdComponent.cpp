#include "net/IdComponent.h"

#include <algorithm>
#include <thread>

#include "net/IdStack.h"

namespace {

void Erase(std::vector<TComponent*>& v, TComponent* c) {
    v.erase(std::remove(v.begin(), v.end(), c), v.end());
}

// Static initialisation runs on the thread that later runs main().
const std::thread::id gMainThread = std::this_thread::get_id();

} // namespace

// ---- TComponent ------------------------------------------------------------

TComponent::TComponent(TComponent* AOwner) : owner_(AOwner) {
    if (owner_)
        owner_->InsertOwned(this);
}

TComponent::~TComponent() {
    // Tell the watchers first, while this object is still whole enough to be
    // compared by address; then stop watching others.
    for (TComponent* w : std::vector<TComponent*>(watchers_)) {
        Erase(w->watched_, this);
        w->Notification(this, TOperation::opRemove);
    }
    for (TComponent* w : watched_)
        Erase(w->watchers_, this);
    // Owned components go before their owner; each removes itself from owned_.
    while (!owned_.empty())
        delete owned_.back();
    if (owner_)
        owner_->RemoveOwned(this);
}

void TComponent::FreeNotification(TComponent* AComponent) {
    if (!AComponent || AComponent == this)
        return;
    if (std::find(watched_.begin(), watched_.end(), AComponent) == watched_.end()) {
        watched_.push_back(AComponent);
        AComponent->watchers_.push_back(this);
    }
}

void TComponent::RemoveFreeNotification(TComponent* AComponent) {
    if (!AComponent)
        return;
    Erase(watched_, AComponent);
    Erase(AComponent->watchers_, this);
}

void TComponent::Notification(TComponent*, TOperation) {}

void TComponent::InsertOwned(TComponent* c) {
    owned_.push_back(c);
}

void TComponent::RemoveOwned(TComponent* c) {
    Erase(owned_, c);
}

// ---- TIdComponent ----------------------------------------------------------

const char* const StatusTexts[9] = {
    "Resolving hostname %s.",
    "Connecting to %s.",
    "Connected.",
    "Disconnecting.",
    "Disconnected.",
    "%s",
    "%s",
    "%s",
    "%s",
};

void ComponentStackUsage::TakeStackUsage() {
    TIdStack::IncUsage();
    held_ = true;
}

ComponentStackUsage::~ComponentStackUsage() {
    if (held_)
        TIdStack::DecUsage();
}

TIdComponent::TIdComponent(TComponent* AOwner) : TIdBaseComponent(AOwner) {
    InitDefaults();
}

void TIdComponent::InitDefaults() {
    // The work states start at zero by construction; the stack usage comes last.
    TakeStackUsage();
}

// The stack usage goes back in ~ComponentStackUsage, after the base destruction.
TIdComponent::~TIdComponent() {
    SetWorkDelegate(nullptr);
}

void TIdComponent::WorkBegin(TWorkMode AWorkMode, std::int64_t ACountMax) {
    if (workDelegate_) {
        workDelegate_->WorkBegin(AWorkMode, ACountMax);
        return;
    }
    WorkState& s = workStates_[AWorkMode];
    if (++s.Depth == 1) {
        s.CountMax = ACountMax;
        s.Count = 0;
        if (OnWorkBegin)
            OnWorkBegin(this, AWorkMode, ACountMax);
    }
}

void TIdComponent::WorkAdd(TWorkMode AWorkMode, std::int64_t ACount) {
    if (workDelegate_) {
        workDelegate_->WorkAdd(AWorkMode, ACount);
        return;
    }
    WorkState& s = workStates_[AWorkMode];
    if (s.Depth <= 0)
        return;
    s.Count += ACount;
    if (OnWork)
        OnWork(this, AWorkMode, s.Count);
}

void TIdComponent::WorkEnd(TWorkMode AWorkMode) {
    if (workDelegate_) {
        workDelegate_->WorkEnd(AWorkMode);
        return;
    }
    WorkState& s = workStates_[AWorkMode];
    if (s.Depth == 1 && OnWorkEnd)
        OnWorkEnd(this, AWorkMode);
    --s.Depth;
}

void TIdComponent::ReportStatus(TIdStatus AStatus, const FormatArgs& args) {
    if (!OnStatus)
        return;
    const std::string text =
        FormatList(StatusTexts[AStatus], args.empty() ? FormatArgs{std::string()} : args);
    OnStatus(this, AStatus, text);
}

void TIdComponent::SetWorkDelegate(TIdComponent* ADelegate) {
    if (ADelegate == workDelegate_)
        return;
    if (workDelegate_)
        RemoveFreeNotification(workDelegate_);
    workDelegate_ = ADelegate;
    if (workDelegate_)
        FreeNotification(workDelegate_);
}

void TIdComponent::Notification(TComponent* AComponent, TOperation Operation) {
    TIdBaseComponent::Notification(AComponent, Operation);
    if (Operation == TOperation::opRemove && AComponent == workDelegate_)
        workDelegate_ = nullptr;
}

// ---- TIdAntiFreezeBase -----------------------------------------------------

TIdAntiFreezeBase* TIdAntiFreezeBase::CurrentAntiFreeze = nullptr;

TIdAntiFreezeBase::TIdAntiFreezeBase(TComponent* AOwner, bool designing)
    : TIdBaseComponent(AOwner) {
    InitDefaults(designing);
}

void TIdAntiFreezeBase::InitDefaults(bool designing) {
    if (!designing) {
        if (CurrentAntiFreeze)
            throw EIdException("Only one TIdAntiFreeze can exist per application.");
        CurrentAntiFreeze = this;
    }
    Active = true;
    ApplicationHasPriority = true;
    IdleTimeOut = 250;
    OnlyWhenIdle = true;
}

TIdAntiFreezeBase::~TIdAntiFreezeBase() {
    if (CurrentAntiFreeze == this)
        CurrentAntiFreeze = nullptr;
}

bool TIdAntiFreezeBase::AntiFreezeInUse() {
    return CurrentAntiFreeze && std::this_thread::get_id() == gMainThread &&
           CurrentAntiFreeze->Active;
}

void TIdAntiFreezeBase::AntiFreezeStep(bool idle, bool force) {
    if (AntiFreezeInUse() && (idle || !CurrentAntiFreeze->OnlyWhenIdle || force))
        CurrentAntiFreeze->ProcessEvents();
}
