#include "printing/ReceiptSpooler.h"

#include "platform/Error.h"

#include "TestUtil.h"

#include <gtest/gtest.h>

#include <QObject>

#include <map>
#include <semaphore>
#include <vector>

namespace {

// Records what the spooler tells the main thread, per job.
struct Recorder {
    explicit Recorder(ReceiptSpooler& spooler) {
        QObject::connect(&spooler, &ReceiptSpooler::finished, &spooler,
                         [this](int job, const ReceiptOutcome& outcome) {
                             order.push_back(job);
                             outcomes[job] = outcome;
                         });
        QObject::connect(&spooler, &ReceiptSpooler::progress, &spooler,
                         [this](int job, qint64 sent, qint64 total) {
                             lastProgress[job] = {sent, total};
                         });
    }
    std::vector<int> order;
    std::map<int, ReceiptOutcome> outcomes;
    std::map<int, std::pair<qint64, qint64>> lastProgress;
};

ReceiptDelivery deliverInSteps(ReceiptProgress& progress, qint64 total) {
    for (qint64 sent = 0; sent <= total; sent += 100)
        progress.report(std::min(sent, total), total);
    progress.report(total, total);
    return {{QStringLiteral("бумага заканчивается")}, QStringLiteral("в порядке"), false};
}

TEST(ReceiptSpooler, JobsRunInOrderAndReportProgressOutcomeAndWarnings) {
    ReceiptSpooler spooler;
    Recorder seen(spooler);
    const int a = spooler.submit(QStringLiteral("A"),
                                 [](ReceiptProgress& p) { return deliverInSteps(p, 1000); });
    const int b = spooler.submit(QStringLiteral("B"), [](ReceiptProgress&) -> ReceiptDelivery {
        throw orvanta::Exception(QStringLiteral("Принтер B: нет бумаги"));
    });
    const int c = spooler.submit(QStringLiteral("C"), [](ReceiptProgress&) -> ReceiptDelivery {
        throw std::runtime_error("socket");
    });
    EXPECT_TRUE(spooler.busy());
    ASSERT_TRUE(spooler.waitForIdle(10000));

    EXPECT_EQ(seen.order, (std::vector<int>{a, b, c}));
    const ReceiptOutcome& ok = seen.outcomes[a];
    EXPECT_TRUE(ok.ok);
    EXPECT_EQ(ok.printer, QStringLiteral("A"));
    EXPECT_EQ(ok.warnings, QStringList{QStringLiteral("бумага заканчивается")});
    EXPECT_EQ(ok.status, QStringLiteral("в порядке"));
    EXPECT_EQ(seen.lastProgress[a], (std::pair<qint64, qint64>{1000, 1000}));

    EXPECT_FALSE(seen.outcomes[b].ok);
    EXPECT_EQ(seen.outcomes[b].error, QStringLiteral("Принтер B: нет бумаги"));
    EXPECT_FALSE(seen.outcomes[c].ok);
    EXPECT_EQ(seen.outcomes[c].error, QStringLiteral("socket"));
}

TEST(ReceiptSpooler, CancelStopsTheRunningJobAndDropsAQueuedOne) {
    ReceiptSpooler spooler;
    Recorder seen(spooler);
    std::binary_semaphore started(0);
    bool queuedRan = false;
    const int running =
        spooler.submit(QStringLiteral("P"), [&started](ReceiptProgress& p) -> ReceiptDelivery {
            started.release();
            while (!p.cancelRequested())
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            return {{}, {}, true}; // what a sender does: stop, cut, say so
        });
    const int queued = spooler.submit(QStringLiteral("P"), [&queuedRan](ReceiptProgress&) {
        queuedRan = true;
        return ReceiptDelivery{};
    });
    ASSERT_TRUE(started.try_acquire_for(std::chrono::seconds(10)));
    spooler.cancel(queued);
    spooler.cancel(running);
    ASSERT_TRUE(spooler.waitForIdle(10000));

    EXPECT_TRUE(seen.outcomes[running].cancelled);
    EXPECT_FALSE(seen.outcomes[running].ok);
    EXPECT_TRUE(seen.outcomes[queued].cancelled);
    EXPECT_FALSE(queuedRan);
}

TEST(ReceiptSpooler, AJobOutlivesTheWindowThatAskedForIt) {
    ReceiptSpooler spooler;
    Recorder seen(spooler);
    std::binary_semaphore release(0);
    auto* window = new QObject;
    const int job = spooler.submit(
        QStringLiteral("P"),
        [&release](ReceiptProgress&) {
            release.acquire();
            return ReceiptDelivery{};
        },
        window);
    delete window;
    release.release();
    ASSERT_TRUE(spooler.waitForIdle(10000));
    EXPECT_TRUE(seen.outcomes[job].ok);
    EXPECT_FALSE(seen.outcomes[job].ownerAlive); // someone else must tell the operator
}

TEST(ReceiptSpooler, EndingTheSpoolerSendsWhatIsQueued) {
    std::atomic<int> sent{0};
    {
        ReceiptSpooler spooler;
        for (int i = 0; i < 3; ++i) {
            spooler.submit(QStringLiteral("P"), [&sent](ReceiptProgress&) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                ++sent;
                return ReceiptDelivery{};
            });
        }
    }
    EXPECT_EQ(sent.load(), 3);
}

} // namespace
