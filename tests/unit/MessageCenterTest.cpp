#include "logging/MessageCenter.h"
#include "tests/support/ScriptedAnswerer.h"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace tolvarin {

namespace {

class MessageCenterTest : public ::testing::Test {
  protected:
    void SetUp() override {
        MessageCenter::resetForTests();
        MessageCenter::setAnswerer(script);
    }
    void TearDown() override { MessageCenter::resetForTests(); }

    std::shared_ptr<ScriptedAnswerer> script = std::make_shared<ScriptedAnswerer>();
};

} // namespace

TEST_F(MessageCenterTest, TheCatalogueHoldsEveryNumberAndEachHasADefaultButton) {
    std::vector<int> expected;
    for (int n = 0; n <= 32; ++n) {
        expected.push_back(n);
    }
    for (int n = 1000; n <= 1015; ++n) {
        expected.push_back(n);
    }
    expected.push_back(2000);
    expected.push_back(5000);
    EXPECT_EQ(MessageCenter::messageNumbers(), expected);

    for (int n : expected) {
        auto alert = MessageCenter::alertForNumber(n);
        ASSERT_TRUE(alert) << n;
        EXPECT_EQ(alert->number, n);
        EXPECT_FALSE(alert->title.empty()) << n;
        EXPECT_FALSE(alert->text.empty()) << n;
        EXPECT_FALSE(alert->defaultButton.empty()) << n;
        // No other button without an alternate one.
        EXPECT_TRUE(alert->otherButton.empty() || !alert->alternateButton.empty()) << n;
        // The answer taken when nobody can be asked is one the message offers.
        EXPECT_TRUE(alert->offers(MessageCenter::safeAnswerForNumber(n))) << n;
    }
    EXPECT_FALSE(MessageCenter::alertForNumber(33));
    EXPECT_FALSE(MessageCenter::alertForNumber(999));
    EXPECT_FALSE(MessageCenter::alertForNumber(-1));
}

TEST_F(MessageCenterTest, ButtonsMapToOneZeroAndMinusOne) {
    script->push(25, 1);
    script->push(25, 0);
    script->push(27, 1);
    script->push(27, 0);
    script->push(3, -1);
    script->push(16, -1);
    EXPECT_EQ(MessageCenter::generateAlertDialogWithNumber(25), 1);
    EXPECT_EQ(MessageCenter::generateAlertDialogWithNumber(25), 0);
    EXPECT_EQ(MessageCenter::generateAlertDialogWithNumber(27), 1);
    EXPECT_EQ(MessageCenter::generateAlertDialogWithNumber(27), 0);
    EXPECT_EQ(MessageCenter::generateAlertDialogWithNumber(3), -1);
    EXPECT_EQ(MessageCenter::generateAlertDialogWithNumber(16), -1);
    EXPECT_EQ(script->askedNumbers(), (std::vector<int>{25, 25, 27, 27, 3, 16}));
    EXPECT_EQ(script->pending(), 0u);

    auto asked = script->asked();
    EXPECT_EQ(asked[0].defaultButton, "Continue");
    EXPECT_EQ(asked[0].alternateButton, "Terminate");
    EXPECT_EQ(asked[4].title, "Stop Option Selected");
    EXPECT_EQ(asked[4].otherButton, "Don't Save");
    EXPECT_EQ(asked[5].otherButton, "Delete Current Only");
    EXPECT_EQ(MessageCenter::inputValue(), 16);
}

TEST_F(MessageCenterTest, Message2000ShowsTheRangeWithThreeDecimals) {
    MessageCenter::setCursoryStart(1.5);
    MessageCenter::setCursoryEnd(2.0);
    script->push(2000, 1);
    EXPECT_EQ(MessageCenter::generateAlertDialogWithNumber(2000), 1);
    std::string text = script->asked().at(0).text;
    EXPECT_NE(text.find("             Starting Scan Range: 1.500\n"), std::string::npos) << text;
    EXPECT_NE(text.find("             Ending Scan Range: 2.000\n\n"), std::string::npos) << text;
    EXPECT_EQ(text.find('%'), std::string::npos);
}

TEST_F(MessageCenterTest, AnUnknownNumberAsksNobodyAndRepeatsTheLastAnswer) {
    EXPECT_EQ(MessageCenter::generateAlertDialogWithNumber(77), 0);
    script->push(3, -1);
    MessageCenter::generateAlertDialogWithNumber(3);
    EXPECT_EQ(MessageCenter::generateAlertDialogWithNumber(4242), -1);
    EXPECT_EQ(script->askedNumbers(), std::vector<int>{3});
    EXPECT_EQ(MessageCenter::inputValue(), 4242);
}

TEST_F(MessageCenterTest, WithoutAnAnswererNothingIsDeletedOrStarted) {
    MessageCenter::setAnswerer(nullptr);
    EXPECT_EQ(MessageCenter::generateAlertDialogWithNumber(0), 0);    // Cancel the launch
    EXPECT_EQ(MessageCenter::generateAlertDialogWithNumber(9), 1);    // Go Back, not Delete All
    EXPECT_EQ(MessageCenter::generateAlertDialogWithNumber(10), 0);   // no repair
    EXPECT_EQ(MessageCenter::generateAlertDialogWithNumber(15), 1);   // resume, not delete
    EXPECT_EQ(MessageCenter::generateAlertDialogWithNumber(1008), 0); // keep the base files
    EXPECT_EQ(MessageCenter::generateAlertDialogWithNumber(1), 1);    // a notice: OK
}

TEST_F(MessageCenterTest, AnAnswerForAButtonTheMessageLacksIsNotTaken) {
    script->push(0, -1); // message 0 has no third button
    script->push(1, 0);  // nor has a notice a second
    EXPECT_EQ(MessageCenter::generateAlertDialogWithNumber(0), 0);
    EXPECT_EQ(MessageCenter::generateAlertDialogWithNumber(1), 1);
    script->push(8, 7);
    EXPECT_EQ(MessageCenter::generateAlertDialogWithNumber(8), 0);
}

TEST_F(MessageCenterTest, EachCallerGetsItsOwnAnswerAndNoQuestionWaitsForAnother) {
    // Message 3 is held until message 2, asked on another thread meanwhile,
    // has been answered: the window's main thread must be able to ask while
    // a worker's question waits for it.
    class Crossing : public AlertAnswerer {
      public:
        std::atomic<bool> holding{false};
        std::atomic<bool> secondAnswered{false};
        std::atomic<int> answered{0};
        int answer(const Alert& alert) override {
            ++answered;
            if (alert.number == 2) {
                secondAnswered = true;
                return 1;
            }
            if (alert.number == 3 && !secondAnswered) {
                holding = true;
                while (!secondAnswered) {
                    std::this_thread::yield();
                }
            }
            return alert.number == 3 ? -1 : 0;
        }
    };
    auto crossing = std::make_shared<Crossing>();
    MessageCenter::setAnswerer(crossing);
    int held = 0;
    std::thread worker([&] { held = MessageCenter::generateAlertDialogWithNumber(3); });
    while (!crossing->holding) {
        std::this_thread::yield();
    }
    EXPECT_EQ(MessageCenter::generateAlertDialogWithNumber(2), 1);
    worker.join();
    EXPECT_EQ(held, -1);

    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            int n = t % 2 == 0 ? 3 : 2;
            for (int i = 0; i < 50; ++i) {
                if (MessageCenter::generateAlertDialogWithNumber(n) != (n == 3 ? -1 : 1)) {
                    ++wrong;
                }
            }
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    EXPECT_EQ(crossing->answered.load(), 202);
    EXPECT_EQ(wrong.load(), 0);
}

} // namespace tolvarin
