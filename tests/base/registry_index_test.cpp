// The registry's indexed lookups against the rules read straight off its lists, after random
// insertions, joins, renumberings and removals with few distinct ids, so that several entries
// match at once and the order of insertion has to decide.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "base/st/symcjacc/asychronrq.h"
#include "registry_fixture.h"

namespace {

using Entry = const CAsyncRQEntry*;

bool HoldsSJ(const CAsyncRQEntry& cj, ULONG id) {
    for (const SAsyncSymRQEntry& sj : cj.m_SJList) {
        if (sj.ES_JobID == id) {
            return true;
        }
    }
    return false;
}

bool HoldsParent(const CAsyncRQEntry& cj, ULONG id) {
    for (const SAsyncSymRQEntry& sj : cj.m_SJList) {
        if (sj.parent_ES_JobID == id) {
            return true;
        }
    }
    return false;
}

// The first entry from the front (newest) or from the back (oldest) that matches.
template <class Match>
Entry Reference(const CAsychronRQ& rq, bool newest, Match match) {
    const auto& list = rq.Entries();
    if (newest) {
        for (const CAsyncRQEntry& cj : list) {
            if (match(cj)) {
                return &cj;
            }
        }
    } else {
        for (auto it = list.rbegin(); it != list.rend(); ++it) {
            if (match(*it)) {
                return &*it;
            }
        }
    }
    return nullptr;
}

ULONG ReferenceFreeID(const CAsychronRQ& rq, LONG typ, ULONG limit) {
    ULONG id = 2;
    while (id < limit && Reference(rq, true, [&](const CAsyncRQEntry& cj) {
                             return (cj.m_ES_JobID == id || cj.m_dwPrev_ES_JobID == id) &&
                                    cj.m_Typ == typ;
                         }) != nullptr) {
        ++id;
    }
    return id;
}

class RegistryIndexTest : public testing_support::RegistryFixture {
  protected:
    void ExpectLookupsAsTheLists(CAsychronRQ& rq, int step) {
        for (ULONG id = 0; id <= kIDs; ++id) {
            for (LONG typ : kTypes) {
                EXPECT_EQ(
                    rq.GetAsychronRQArray(id, typ),
                    Reference(rq, true,
                              [&](auto& cj) {
                                  return (cj.m_ES_JobID == id || cj.m_dwPrev_ES_JobID == id) &&
                                         cj.m_Typ == typ;
                              }))
                    << step;
                for (LONG cycle : kCycles) {
                    EXPECT_EQ(
                        rq.GetAsyncCJRQArray(cycle, typ, id),
                        Reference(rq, true,
                                  [&](auto& cj) {
                                      return cj.ms == cycle && cj.m_Typ == typ &&
                                             (cj.m_dwLastSJ_ES_JobID == id || HoldsSJ(cj, id));
                                  }))
                        << step;
                    EXPECT_EQ(rq.GetAsyncCJRQArray(cycle, typ, 10, 100, id, 0),
                              cycle == 0 ? nullptr
                                         : Reference(rq, true,
                                                     [&](auto& cj) {
                                                         return cj.ms == cycle && cj.m_Typ == typ &&
                                                                cj.m_dwVarCount + id <= 10;
                                                     }))
                        << step;
                }
                for (ULONG limit : {ULONG{0}, ULONG{3}, kIDs + 2}) {
                    EXPECT_EQ(rq.GetFreeJobID(typ, limit), ReferenceFreeID(rq, typ, limit)) << step;
                }
            }
            EXPECT_EQ(rq.GetAsychronRQArray(id),
                      Reference(rq, true, [&](auto& cj) { return cj.m_ES_JobID == id; }))
                << step;
            EXPECT_EQ(rq.GetOldestAsychronRQArray(id),
                      Reference(rq, false, [&](auto& cj) { return cj.m_ES_JobID == id; }))
                << step;
            EXPECT_EQ(rq.GetHolderOfSJ(id),
                      Reference(rq, true, [&](auto& cj) { return HoldsSJ(cj, id); }))
                << step;
            EXPECT_EQ(rq.GetCJOfJob(id), Reference(rq, true,
                                                   [&](auto& cj) {
                                                       return cj.containing() != 0 &&
                                                              (cj.m_dwLastSJ_ES_JobID == id ||
                                                               HoldsSJ(cj, id) ||
                                                               HoldsParent(cj, id));
                                                   }))
                << step;
            EXPECT_EQ(rq.GetCJOfSJOrParent(id),
                      Reference(rq, true,
                                [&](auto& cj) { return HoldsSJ(cj, id) || HoldsParent(cj, id); }))
                << step;
            const Entry rt = Reference(rq, false, [&](auto& cj) {
                return (cj.m_RT_JobID != 0 && cj.m_ES_JobID == id) || HoldsSJ(cj, id);
            });
            EXPECT_EQ(rq.GetRtJobIDOf(id), rt != nullptr ? rt->m_RT_JobID : 0u) << step;
        }
    }

    // One change of the kinds the component makes, to `cj` (null: a new CJ).
    void ChangeAtRandom(CAsychronRQ& rq, CAsyncRQEntry* cj) {
        switch (cj == nullptr ? 0 : pick(7)) {
            case 0: {  // a new CJ, any of its ids possibly shared with others
                CAsyncRQEntry entry;
                entry.m_ES_JobID = pick(kIDs + 1);
                entry.m_dwPrev_ES_JobID = pick(3) == 0 ? pick(kIDs + 1) : 0;
                entry.m_dwLastSJ_ES_JobID = pick(kIDs + 1);
                entry.m_Typ = kTypes[pick(2)];
                entry.ms = kCycles[pick(3)];
                entry.m_dwVarCount = pick(12);
                rq.AddAsychronRQ(entry);
                break;
            }
            case 1: {  // a join, by id and type or to exactly this CJ
                SAsyncSymRQEntry sj;
                sj.ES_JobID = pick(kIDs + 1);
                sj.parent_ES_JobID = pick(kIDs + 1);
                if (pick(2) == 0) {
                    rq.AddAsyncSymRQ(cj->m_ES_JobID, &sj, cj->m_Typ);
                } else {
                    rq.AddAsyncSymRQ(*cj, sj);
                }
                break;
            }
            case 2:  // re-created under a new id
                cj->m_dwPrev_ES_JobID = cj->m_ES_JobID;
                cj->m_ES_JobID = pick(kIDs + 1);
                for (SAsyncSymRQEntry& sj : cj->m_SJList) {
                    sj.parent_ES_JobID = cj->m_ES_JobID;
                }
                rq.Reindex(*cj);
                break;
            case 3:  // another SJ asked last
                cj->m_dwLastSJ_ES_JobID = pick(kIDs + 1);
                rq.Reindex(*cj);
                break;
            case 4:  // a cancelled SJ leaves
                if (!cj->m_SJList.empty()) {
                    cj->m_SJList.pop_front();
                }
                cj->m_RT_JobID = pick(3);
                break;
            case 5:
                rq.KillAsychronRQ(cj);
                EXPECT_FALSE(rq.Holds(cj));
                break;
            default:
                rq.KillAsychronRQ(pick(kIDs + 1), kTypes[pick(2)], 0, false);
                break;
        }
    }

    ULONG pick(ULONG n) { return static_cast<ULONG>(random() % n); }

    std::mt19937 random{18};
    static constexpr ULONG kIDs = 6;
    static constexpr LONG kTypes[] = {1, 9};
    static constexpr LONG kCycles[] = {0, 10, 20};
};

TEST_F(RegistryIndexTest, LookupsAnswerAsTheListsWould) {
    capture.levels(0, 0, 0);
    CAsychronRQ rq;
    std::vector<CAsyncRQEntry*> held;
    for (int step = 0; step < 600; ++step) {
        ChangeAtRandom(rq, held.empty() ? nullptr : held[pick(static_cast<ULONG>(held.size()))]);
        held.clear();
        for (const CAsyncRQEntry& each : rq.Entries()) {
            held.push_back(const_cast<CAsyncRQEntry*>(&each));  // the test's own registry
            EXPECT_TRUE(rq.Holds(&each));
        }
        ExpectLookupsAsTheLists(rq, step);
        if (HasFailure()) {
            return;
        }
    }
}

}  // namespace
