#include <gtest/gtest.h>

#include <memory>

#include <string>
#include <vector>

#include "net/IdComponent.h"
#include "tests/support/Failure.h"

namespace {

// Records every notification a component raises, in order, as text.
struct Recorder {
    std::vector<std::string> events;

    void Attach(TIdComponent& c) {
        c.OnWorkBegin = [this](TIdComponent* s, TWorkMode m, std::int64_t max) {
            events.push_back(Name(s) + " begin " + std::to_string(m) + " " + std::to_string(max));
        };
        c.OnWork = [this](TIdComponent* s, TWorkMode m, std::int64_t n) {
            events.push_back(Name(s) + " work " + std::to_string(m) + " " + std::to_string(n));
        };
        c.OnWorkEnd = [this](TIdComponent* s, TWorkMode m) {
            events.push_back(Name(s) + " end " + std::to_string(m));
        };
        c.OnStatus = [this](TIdComponent* s, TIdStatus st, const std::string& text) {
            events.push_back(Name(s) + " status " + std::to_string(st) + " " + text);
        };
    }
    static std::string Name(TIdComponent* c) { return c->Name().empty() ? "?" : c->Name(); }
};

using Events = std::vector<std::string>;

} // namespace

TEST(WorkNotifications, ReportRunningTotalsBetweenOneBeginAndOneEnd) {
    TIdComponent c;
    c.SetName("c");
    Recorder r;
    r.Attach(c);
    c.WorkBegin(wmWrite, 1000);
    c.WorkAdd(wmWrite, 512);
    c.WorkAdd(wmWrite, 488);
    c.WorkAdd(wmWrite, 0);
    c.WorkEnd(wmWrite);
    EXPECT_EQ(r.events, (Events{"c begin 1 1000", "c work 1 512", "c work 1 1000", "c work 1 1000",
                                "c end 1"}));
    EXPECT_EQ(c.WorkStateOf(wmWrite).Depth, 0);
    EXPECT_EQ(c.WorkStateOf(wmWrite).Count, 1000);
}

TEST(WorkNotifications, NestingCountsAsOneAndModesAreIndependent) {
    TIdComponent c;
    c.SetName("c");
    Recorder r;
    r.Attach(c);
    c.WorkAdd(wmWrite, 7); // no open work: nothing
    c.WorkBegin(wmRead, 50);
    c.WorkBegin(wmWrite, 10);
    c.WorkBegin(wmWrite, 99);
    c.WorkAdd(wmWrite, 5);
    c.WorkEnd(wmWrite);
    c.WorkEnd(wmWrite);
    c.WorkAdd(wmRead, 3);
    EXPECT_EQ(r.events,
              (Events{"c begin 0 50", "c begin 1 10", "c work 1 5", "c end 1", "c work 0 3"}));
    EXPECT_EQ(c.WorkStateOf(wmWrite).CountMax, 10);
}

TEST(WorkNotifications, DelegateTakesEverythingUntilItIsDestroyed) {
    TIdComponent c;
    c.SetName("c");
    Recorder r;
    r.Attach(c);
    auto* d = new TIdComponent;
    d->SetName("d");
    r.Attach(*d);
    c.SetWorkDelegate(d);
    c.WorkBegin(wmWrite, 3);
    c.WorkAdd(wmWrite, 3);
    c.WorkEnd(wmWrite);
    EXPECT_EQ(r.events, (Events{"d begin 1 3", "d work 1 3", "d end 1"}));
    EXPECT_EQ(c.WorkStateOf(wmWrite).Depth, 0);
    EXPECT_EQ(c.WorkStateOf(wmWrite).CountMax, 0);

    delete d; // the watch clears the delegate; c reports for itself again
    EXPECT_EQ(c.WorkDelegate(), nullptr);
    r.events.clear();
    c.WorkBegin(wmWrite, 1);
    c.WorkEnd(wmWrite);
    EXPECT_EQ(r.events, (Events{"c begin 1 1", "c end 1"}));
}

TEST(WorkNotifications, ComponentDestroyedBeforeItsDelegateLeavesNoDanglingWatch) {
    auto d = std::make_unique<TIdComponent>();
    {
        TIdComponent c;
        c.SetWorkDelegate(d.get());
    }
    TIdComponent e;
    e.SetWorkDelegate(d.get());
    // d's end clears the delegate of those that still use it, e, and touches
    // nothing of the destroyed c (the sanitizer build tells if it does).
    d.reset();
    EXPECT_EQ(e.WorkDelegate(), nullptr);
}

TEST(ReportStatus, FillsTheStatusTextAndTreatsNoArgumentsAsOneEmptyText) {
    TIdComponent c;
    c.SetName("c");
    Recorder r;
    r.Attach(c);
    c.ReportStatus(hsDisconnected);
    c.ReportStatus(hsStatusText);
    c.ReportStatus(hsResolving, {std::string("unit.local")});
    c.ReportStatus(hsConnected, {std::string("127.0.0.1")});
    EXPECT_EQ(r.events,
              (Events{"c status 4 Disconnected.", "c status 5 ",
                      "c status 0 Resolving hostname unit.local.", "c status 2 Connected."}));
}

TEST(ReportStatus, WithoutAHandlerBuildsNoText) {
    TIdComponent c;
    // A mismatched argument would fail in the formatter if a text were built.
    EXPECT_NO_THROW(c.ReportStatus(hsConnecting, {std::int64_t{5}}));
    c.OnStatus = [](TIdComponent*, TIdStatus, const std::string&) {};
    EXPECT_THROW(c.ReportStatus(hsConnecting, {std::int64_t{5}}), EConvertError);
}

TEST(TComponent, OwnerDestroysWhatItOwns) {
    int destroyed = 0;
    struct Probe : TComponent {
        int& n;
        Probe(TComponent* o, int& count) : TComponent(o), n(count) {}
        ~Probe() override { ++n; }
    };
    {
        TComponent owner;
        new Probe(&owner, destroyed);
        auto* second = new Probe(&owner, destroyed);
        delete second; // leaves its owner's list
        EXPECT_EQ(destroyed, 1);
    }
    EXPECT_EQ(destroyed, 2);
}

namespace {

struct CountingAntiFreeze : TIdAntiFreezeBase {
    int processed = 0;
    void ProcessEvents() override { ++processed; }
};

} // namespace

TEST(AntiFreeze, OnlyOnePerProcessAndItsStepFollowsTheIdleRule) {
    EXPECT_FALSE(TIdAntiFreezeBase::AntiFreezeInUse());
    {
        CountingAntiFreeze a;
        EXPECT_EQ(TIdAntiFreezeBase::CurrentAntiFreeze, &a);
        EXPECT_THROW_MSG(CountingAntiFreeze b, EIdException,
                         "Only one TIdAntiFreeze can exist per application.");
        EXPECT_EQ(TIdAntiFreezeBase::CurrentAntiFreeze, &a);
        EXPECT_TRUE(TIdAntiFreezeBase::AntiFreezeInUse());

        TIdAntiFreezeBase::AntiFreezeStep(false, false); // busy, only-when-idle: nothing
        TIdAntiFreezeBase::AntiFreezeStep(true, false);
        TIdAntiFreezeBase::AntiFreezeStep(false, true);
        a.OnlyWhenIdle = false;
        TIdAntiFreezeBase::AntiFreezeStep(false, false);
        EXPECT_EQ(a.processed, 3);
        a.Active = false;
        EXPECT_FALSE(TIdAntiFreezeBase::AntiFreezeInUse());
    }
    EXPECT_EQ(TIdAntiFreezeBase::CurrentAntiFreeze, nullptr);
    CountingAntiFreeze again; // possible once the first is gone
    EXPECT_EQ(TIdAntiFreezeBase::CurrentAntiFreeze, &again);
}
