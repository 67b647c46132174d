// Taking commands back: after any run of tree commands, undoing them all
// gives back the catalogue byte for byte (record order included), and
// making them all again gives the end state.
#include "TestSupport.h"

#include "catalog/EditSteps.h"

#include <gtest/gtest.h>

#include <stdexcept>

using namespace qv;

class EditStepProperty : public ::testing::TestWithParam<unsigned> {};

TEST_P(EditStepProperty, UndoAllGivesTheStartAndRedoAllTheEnd)
{
    std::mt19937 rng(GetParam());
    Catalog c;
    // A start with duplicate sections, records nothing joins and nodes
    // without a record.
    for (int i = 0; i < 60; ++i)
        qvtest::randomStep(c, rng);
    c.outline().append(c.outline().top(), W("без записи"));
    c.records().append(W("ничья"), "x", "3");
    c.records().append(c.outline().first()->caption(), "second", "5");
    c.records().insertAt(0, {c.outline().first()->caption(), "earlier", "7"});

    const std::string start = qvtest::dump(c);
    std::vector<std::unique_ptr<EditStep>> steps;
    std::vector<std::string> states{start};
    while (steps.size() < 200) {
        if (auto step = qvtest::randomStep(c, rng)) {
            steps.push_back(std::move(step));
            states.push_back(qvtest::dump(c));
        }
    }
    for (size_t i = steps.size(); i-- > 0;) {
        steps[i]->undo(c);
        ASSERT_EQ(qvtest::dump(c), states[i]) << "undo of step " << i << " kind " << int(steps[i]->kind());
        if (!steps[i]->selectionBefore().empty()) {
            ASSERT_NE(nodeAt(c.outline(), steps[i]->selectionBefore()), nullptr);
        }
    }
    EXPECT_EQ(qvtest::dump(c), start);
    for (size_t i = 0; i < steps.size(); ++i) {
        steps[i]->redo(c);
        ASSERT_EQ(qvtest::dump(c), states[i + 1])
            << "redo of step " << i << " kind " << int(steps[i]->kind());
    }
}

INSTANTIATE_TEST_SUITE_P(Seeds, EditStepProperty, ::testing::Values(1u, 2u, 3u, 4u, 5u, 6u));

// An import that fails half-way leaves nothing of what it appended.
TEST(AppendStep, AFailedAddIsTakenBack)
{
    Catalog c;
    c.outline().append(c.outline().top(), W("A"));
    c.records().append(W("A"), "a", "0");
    const std::string start = qvtest::dump(c);
    EXPECT_THROW(appendStep(EditStep::Kind::Import, c, c.outline().first(), nullptr, W("x"),
                            [&] {
                                c.records().append(W("B"), "b", "0");
                                c.outline().append(c.outline().first(), W("B"));
                                throw std::runtime_error("stop");
                            }),
                 std::runtime_error);
    EXPECT_EQ(qvtest::dump(c), start);
    EXPECT_EQ(appendStep(EditStep::Kind::Import, c, nullptr, nullptr, W("x"), [] {}), nullptr);
}
