// GetAttribute's table: rows registered per kind, a later row replacing an earlier one of its
// kind, a kind beyond the object kinds refused, and everything forgotten with the registries.
#include "core/attribute_table.h"

#include <gtest/gtest.h>

#include "base/errors.h"
#include "core/registry.h"

namespace qv {
namespace {

int32_t AnswerOne(const qvAttrQuery&, qvAttrAnswer* out) {
  out->Number(1);
  return 0;
}
int32_t AnswerTwo(const qvAttrQuery&, qvAttrAnswer* out) {
  out->Number(2);
  out->Text("two");
  return 0;
}

TEST(AttributeTable, RowsAreFoundByKindAndReplacedByALaterRow) {
  const qvAttrKind first[] = {
      {kObjectSample, qvAttrIdForm::kObject, AnswerOne},
      {kObjectEventHandler, qvAttrIdForm::kEventName, AnswerOne},
      {0, qvAttrIdForm::kObject, nullptr},
  };
  const qvAttrKind second[] = {
      {kObjectSample, qvAttrIdForm::kObject, AnswerTwo},
      {0, qvAttrIdForm::kObject, nullptr},
  };
  ASSERT_EQ(RegisterAttributeKinds(first), 0);
  ASSERT_EQ(RegisterAttributeKinds(second), 0);
  ASSERT_NE(FindAttributeKind(kObjectSample), nullptr);
  qvAttrAnswer answer;
  EXPECT_EQ(FindAttributeKind(kObjectSample)->answer({}, &answer), 0);
  ASSERT_EQ(answer.count, 2);
  EXPECT_EQ(answer.values[0].number, 2);
  EXPECT_STREQ(answer.values[1].text, "two");
  EXPECT_EQ(FindAttributeKind(kObjectEventHandler)->idForm, qvAttrIdForm::kEventName);
  // Kinds without a row, and numbers that are no kind at all.
  for (int32_t kind : {int32_t{kObjectMusic}, -1, 64, 1 << 30}) {
    EXPECT_EQ(FindAttributeKind(kind), nullptr) << kind;
  }
  FreeRegistries();
  EXPECT_EQ(FindAttributeKind(kObjectSample), nullptr);
  EXPECT_EQ(FindAttributeKind(kObjectEventHandler), nullptr);
}

TEST(AttributeTable, AKindBeyondTheSlotsIsRefused) {
  const qvAttrKind rows[] = {
      {kObjectBrush, qvAttrIdForm::kObject, AnswerOne},
      {64, qvAttrIdForm::kObject, AnswerOne},
      {0, qvAttrIdForm::kObject, nullptr},
  };
  EXPECT_EQ(RegisterAttributeKinds(rows), ERR_OUTOFRANGE);
  EXPECT_NE(FindAttributeKind(kObjectBrush), nullptr);  // the rows before it stay
  ForgetAttributeKinds();
  EXPECT_EQ(FindAttributeKind(kObjectBrush), nullptr);
}

TEST(AttributeTable, AnAnswerHoldsAtMostItsValues) {
  qvAttrAnswer answer;
  for (int i = 0; i < 5; ++i) answer.Number(i);
  EXPECT_EQ(answer.count, qvAttrAnswer::kMaxValues);
  EXPECT_EQ(answer.values[qvAttrAnswer::kMaxValues - 1].number, qvAttrAnswer::kMaxValues - 1);
}

}  // namespace
}  // namespace qv
