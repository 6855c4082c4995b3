// Posting to the observers of a name, and removing observers, even during a post.
#include <gtest/gtest.h>

#include <vector>

#include "XXNotificationCenter.h"

TEST(NotificationCenter, DeliversObjectToObserversOfThatNameOnly)
{
    XXNotificationCenter center;
    std::vector<std::string> seen;
    center.addObserver("A", [&](const XXNotification &n) {
        ASSERT_NE(n.stringObject(), nullptr);
        seen.push_back("first:" + *n.stringObject());
    });
    center.addObserver("A", [&](const XXNotification &n) { seen.push_back("second:" + *n.stringObject()); });
    center.addObserver("B", [&](const XXNotification &) { seen.push_back("B"); });

    center.post("A", "/media/anna/STICK");  // a text literal arrives as std::string
    EXPECT_EQ(seen, (std::vector<std::string>{"first:/media/anna/STICK", "second:/media/anna/STICK"}));

    int number = 0;
    center.addObserver("N", [&](const XXNotification &n) { number = std::any_cast<int>(n.object); });
    center.post("N", 42);
    EXPECT_EQ(number, 42);
}

TEST(NotificationCenter, RemovedObserversAreNotCalledEvenMidPost)
{
    XXNotificationCenter center;
    int laterCalls = 0;
    XXNotificationCenter::Token later = 0;
    const auto first = center.addObserver("A", [&](const XXNotification &) { center.removeObserver(later); });
    later = center.addObserver("A", [&](const XXNotification &) { ++laterCalls; });
    center.post("A");
    EXPECT_EQ(laterCalls, 0);

    center.removeObserver(first);
    center.removeObserver(first);  // twice is harmless
    const auto again = center.addObserver("A", [&](const XXNotification &) { ++laterCalls; });
    center.post("A");
    EXPECT_EQ(laterCalls, 1);
    center.removeObserver(again);
    center.post("A");
    EXPECT_EQ(laterCalls, 1);
}
