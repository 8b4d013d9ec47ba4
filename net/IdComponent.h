// The base of every network component: ownership and naming (a minimal
// component base), the initialisation step run at creation, the status and
// work notifications, and the network library's idle hook (anti-freeze).
// Every TIdComponent holds one usage of the socket layer's process-wide stack
// for its whole life; nothing else here knows about sockets.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "net/IdException.h"
#include "runtime/Format.h"

enum class TOperation { opInsert, opRemove };

/// Minimal component base: an owner that destroys what it owns, a name, and
/// destruction notices to the components that asked for them.
class TComponent {
public:
    explicit TComponent(TComponent* AOwner = nullptr);
    virtual ~TComponent();
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    TComponent* Owner() const { return owner_; }
    const std::string& Name() const { return name_; }
    void SetName(const std::string& name) { name_ = name; }

    /// Asks to be told (through Notification) when AComponent is destroyed.
    void FreeNotification(TComponent* AComponent);
    void RemoveFreeNotification(TComponent* AComponent);

protected:
    /// Called with opRemove when a component this one watches is destroyed.
    virtual void Notification(TComponent* AComponent, TOperation Operation);

private:
    void InsertOwned(TComponent* c);
    void RemoveOwned(TComponent* c);

    TComponent* owner_;
    std::string name_;
    std::vector<TComponent*> owned_;
    std::vector<TComponent*> watchers_; // told when this one goes
    std::vector<TComponent*> watched_;  // this one is told when they go
};

/// Introduces the initialisation step. Each class's constructor runs its own
/// InitDefaults after its base's constructor has run the base's step, so the
/// defaults of a class always build on those of its base.
class TIdInitializerComponent : public TComponent {
public:
    explicit TIdInitializerComponent(TComponent* AOwner = nullptr) : TComponent(AOwner) {}
};

class TIdBaseComponent : public TIdInitializerComponent {
public:
    explicit TIdBaseComponent(TComponent* AOwner = nullptr) : TIdInitializerComponent(AOwner) {}
};

enum TWorkMode : std::uint8_t { wmRead, wmWrite };

enum TIdStatus : std::uint8_t {
    hsResolving,
    hsConnecting,
    hsConnected,
    hsDisconnecting,
    hsDisconnected,
    hsStatusText,
    ftpTransfer,
    ftpReady,
    ftpAborted
};

class TIdComponent;

using TIdStatusEvent =
    std::function<void(TIdComponent* ASender, TIdStatus AStatus, const std::string& AStatusText)>;
using TWorkBeginEvent =
    std::function<void(TIdComponent* ASender, TWorkMode AWorkMode, std::int64_t AWorkCountMax)>;
using TWorkEvent =
    std::function<void(TIdComponent* ASender, TWorkMode AWorkMode, std::int64_t AWorkCount)>;
using TWorkEndEvent = std::function<void(TIdComponent* ASender, TWorkMode AWorkMode)>;

struct WorkState {
    std::int64_t Count = 0;
    std::int64_t CountMax = 0;
    std::int32_t Depth = 0;
};

/// The status texts, indexed by TIdStatus.
extern const char* const StatusTexts[9];

/// The stack usage a component holds. TIdComponent lists it as its first
/// base, so it is given back after the base destruction: the components a
/// component owns are destroyed first and may still use the stack then.
class ComponentStackUsage {
protected:
    ComponentStackUsage() = default;
    ~ComponentStackUsage();
    /// Takes the usage; throws what TIdStack::IncUsage throws.
    void TakeStackUsage();

private:
    bool held_ = false;
};

class TIdComponent : private ComponentStackUsage, public TIdBaseComponent {
public:
    explicit TIdComponent(TComponent* AOwner = nullptr);
    ~TIdComponent() override;

    TIdStatusEvent OnStatus;
    TWorkEvent OnWork;
    TWorkBeginEvent OnWorkBegin;
    TWorkEndEvent OnWorkEnd;

    /// Opens a piece of work; nested begins of one mode count as one.
    virtual void WorkBegin(TWorkMode AWorkMode, std::int64_t ACountMax);
    /// Adds to the open work; OnWork gets the running total, also for 0.
    virtual void WorkAdd(TWorkMode AWorkMode, std::int64_t ACount);
    /// Closes a piece of work; only the outermost end reaches OnWorkEnd.
    virtual void WorkEnd(TWorkMode AWorkMode);

    /// Raises OnStatus with the status's text filled with args (an empty
    /// list counts as one empty text). Builds nothing when OnStatus is empty.
    void ReportStatus(TIdStatus AStatus, const FormatArgs& args = {});

    TIdComponent* WorkDelegate() const { return workDelegate_; }
    /// Sends all work notifications to ADelegate instead; cleared by itself
    /// when the delegate is destroyed.
    void SetWorkDelegate(TIdComponent* ADelegate);

    const WorkState& WorkStateOf(TWorkMode AWorkMode) const { return workStates_[AWorkMode]; }

protected:
    void Notification(TComponent* AComponent, TOperation Operation) override;

private:
    void InitDefaults();

    WorkState workStates_[2];
    TIdComponent* workDelegate_ = nullptr;
};

/// The idle hook of the network library: at most one per process. Blocking
/// socket waits on the main thread slice themselves and let it process
/// window events while it is active.
class TIdAntiFreezeBase : public TIdBaseComponent {
public:
    /// Throws EIdException "Only one TIdAntiFreeze can exist per application."
    /// when one exists already.
    explicit TIdAntiFreezeBase(TComponent* AOwner = nullptr, bool designing = false);
    ~TIdAntiFreezeBase() override;

    bool Active = true;
    bool ApplicationHasPriority = true;
    std::int32_t IdleTimeOut = 250;
    bool OnlyWhenIdle = true;

    /// Processes waiting window events.
    virtual void ProcessEvents() = 0;

    static TIdAntiFreezeBase* CurrentAntiFreeze;
    /// True when an anti-freeze exists, the caller runs on the main thread,
    /// and the anti-freeze is active.
    static bool AntiFreezeInUse();
    /// Processes events when in use and at least one of idle, !OnlyWhenIdle,
    /// force holds.
    static void AntiFreezeStep(bool idle, bool force);

private:
    void InitDefaults(bool designing);
};
