// The port settings objects: defaults, which changes notify, update groups and Assign.

#include <gtest/gtest.h>

#include <stdexcept>

#include "serial/SpPrst.h"

namespace {

// Counts the change notifications of one settings object.
struct Counter {
  int count = 0;
  explicit Counter(TSpPersistent& object) {
    object.SetOnChange([this](TSpPersistent&) { ++count; });
  }
};

TEST(SettingsObjects, StartWithTheirDefaults) {
  TSpFlowControl flow;
  EXPECT_FALSE(flow.OutCtsFlow());
  EXPECT_FALSE(flow.OutDsrFlow());
  EXPECT_EQ(flow.ControlDtr(), dtrDisabled);
  EXPECT_EQ(flow.ControlRts(), rtsDisabled);
  EXPECT_FALSE(flow.XonXoffOut());
  EXPECT_FALSE(flow.XonXoffIn());
  EXPECT_FALSE(flow.DsrSensitivity());
  EXPECT_FALSE(flow.TxContinueOnXoff());

  TSpEventChars chars;
  EXPECT_EQ(chars.XonChar(), 17);
  EXPECT_EQ(chars.XoffChar(), 19);
  EXPECT_EQ(chars.ErrorChar(), 0);
  EXPECT_EQ(chars.EventChar(), 0);
  EXPECT_EQ(chars.EofChar(), 0);

  TSpBuffers buffers;
  EXPECT_EQ(buffers.ReadSize(), 4096);
  EXPECT_EQ(buffers.WriteSize(), 2048);
  EXPECT_EQ(buffers.ReadTimeout(), 1000);
  EXPECT_EQ(buffers.WriteTimeout(), 1000);
  EXPECT_EQ(buffers.XonLimit(), 1024);
  EXPECT_EQ(buffers.XoffLimit(), 1024);
}

TEST(SettingsObjects, FlowControlAndBufferSizesNotifyOnlyRealChanges) {
  TSpFlowControl flow;
  Counter flowChanges(flow);
  flow.SetOutCtsFlow(false);
  flow.SetControlRts(rtsDisabled);
  EXPECT_EQ(flowChanges.count, 0);
  flow.SetOutCtsFlow(true);
  flow.SetControlRts(rtsToggle);
  EXPECT_EQ(flowChanges.count, 2);
  EXPECT_TRUE(flow.OutCtsFlow());
  EXPECT_EQ(flow.ControlRts(), rtsToggle);

  TSpBuffers buffers;
  Counter bufferChanges(buffers);
  buffers.SetReadSize(4096);
  EXPECT_EQ(bufferChanges.count, 0);
  buffers.SetReadSize(100);
  buffers.SetWriteSize(200);
  buffers.SetXonLimit(300);
  buffers.SetXoffLimit(400);
  EXPECT_EQ(bufferChanges.count, 4);
  // The time limits are read at each use and never notify.
  buffers.SetReadTimeout(50);
  buffers.SetWriteTimeout(60);
  EXPECT_EQ(bufferChanges.count, 4);
  EXPECT_EQ(buffers.ReadTimeout(), 50);
  EXPECT_EQ(buffers.WriteTimeout(), 60);
}

TEST(SettingsObjects, EventCharsNotifyOnEverySetAndReadBackTheirOwnValue) {
  TSpEventChars chars;
  Counter changes(chars);
  chars.SetXonChar(17);  // unchanged, still notifies
  EXPECT_EQ(changes.count, 1);
  chars.SetEofChar('Z');
  chars.SetEventChar('\n');
  EXPECT_EQ(chars.EofChar(), 'Z');
  EXPECT_EQ(chars.EventChar(), '\n');
  EXPECT_EQ(changes.count, 3);
  chars.SetByIndex(6, 'x');  // no such property: nothing stored, still notifies
  chars.SetByIndex(0, 'x');
  EXPECT_EQ(changes.count, 5);
  EXPECT_EQ(chars.XonChar(), 17);
  EXPECT_EQ(chars.XoffChar(), 19);
  EXPECT_EQ(chars.ErrorChar(), 0);
}

TEST(SettingsObjects, UpdateGroupsNotifyOnceAtTheOutermostEnd) {
  TSpFlowControl flow;
  Counter changes(flow);
  flow.BeginUpdate();
  flow.BeginUpdate();
  flow.SetOutCtsFlow(true);
  flow.SetOutDsrFlow(true);
  flow.SetXonXoffIn(true);
  flow.SetControlDtr(dtrEnabled);
  flow.EndUpdate();
  EXPECT_EQ(changes.count, 0);
  EXPECT_EQ(flow.UpdateCount(), 1);
  flow.EndUpdate();
  EXPECT_EQ(changes.count, 1);
  // An unmatched EndUpdate stays at 0 and still notifies.
  flow.EndUpdate();
  EXPECT_EQ(flow.UpdateCount(), 0);
  EXPECT_EQ(changes.count, 2);
}

TEST(SettingsObjects, AssignCopiesEverythingWithOneNotification) {
  TSpFlowControl source;
  source.SetOutDsrFlow(true);
  source.SetControlRts(rtsHandshake);
  source.SetTxContinueOnXoff(true);
  TSpFlowControl flow;
  Counter flowChanges(flow);
  flow.Assign(source);
  EXPECT_EQ(flowChanges.count, 1);
  EXPECT_TRUE(flow.OutDsrFlow());
  EXPECT_EQ(flow.ControlRts(), rtsHandshake);
  EXPECT_TRUE(flow.TxContinueOnXoff());
  flow.Assign(source);  // nothing differs: EndUpdate still notifies
  EXPECT_EQ(flowChanges.count, 2);

  TSpEventChars sourceChars;
  sourceChars.SetErrorChar('?');
  sourceChars.SetEofChar(26);
  TSpEventChars chars;
  Counter charChanges(chars);
  chars.Assign(sourceChars);
  EXPECT_EQ(charChanges.count, 1);
  EXPECT_EQ(chars.ErrorChar(), '?');
  EXPECT_EQ(chars.EofChar(), 26);
  EXPECT_EQ(chars.XonChar(), 17);

  TSpBuffers sourceBuffers;
  sourceBuffers.SetReadSize(1);
  sourceBuffers.SetWriteSize(2);
  sourceBuffers.SetReadTimeout(3);
  sourceBuffers.SetWriteTimeout(4);
  sourceBuffers.SetXonLimit(5);
  sourceBuffers.SetXoffLimit(6);
  TSpBuffers buffers;
  Counter bufferChanges(buffers);
  buffers.Assign(sourceBuffers);
  EXPECT_EQ(bufferChanges.count, 1);
  EXPECT_EQ(buffers.ReadSize(), 1);
  EXPECT_EQ(buffers.WriteSize(), 2);
  EXPECT_EQ(buffers.ReadTimeout(), 3);
  EXPECT_EQ(buffers.WriteTimeout(), 4);
  EXPECT_EQ(buffers.XonLimit(), 5);
  EXPECT_EQ(buffers.XoffLimit(), 6);
}

TEST(SettingsObjects, AssignAcrossClassesRaisesAndChangesNothing) {
  TSpBuffers buffers;
  buffers.SetReadSize(1);
  TSpFlowControl flow;
  flow.SetOutCtsFlow(true);
  Counter changes(flow);
  try {
    flow.Assign(buffers);
    FAIL() << "no conversion error";
  } catch (const EConvertError& error) {
    EXPECT_STREQ(error.what(), "Cannot assign a TSpBuffers to a TSpFlowControl");
  }
  try {
    buffers.Assign(nullptr);
    FAIL() << "no conversion error";
  } catch (const EConvertError& error) {
    EXPECT_STREQ(error.what(), "Cannot assign a nil to a TSpBuffers");
  }
  TSpEventChars chars;
  EXPECT_THROW(chars.Assign(flow), EConvertError);
  EXPECT_EQ(changes.count, 0);
  EXPECT_TRUE(flow.OutCtsFlow());
  EXPECT_EQ(flow.UpdateCount(), 0);
  EXPECT_EQ(buffers.ReadSize(), 1);
}

TEST(SettingsObjects, RefusingOwnerKeepsTheAssignedValuesAndClosesTheGroup) {
  TSpBuffers buffers;
  buffers.SetOnChange([](TSpPersistent&) { throw std::runtime_error("refused"); });
  TSpBuffers source;
  source.SetOnChange(nullptr);
  source.SetReadSize(10);
  source.SetXoffLimit(20);
  EXPECT_THROW(buffers.Assign(source), std::runtime_error);
  EXPECT_EQ(buffers.ReadSize(), 10);
  EXPECT_EQ(buffers.XoffLimit(), 20);
  EXPECT_EQ(buffers.UpdateCount(), 0);
  EXPECT_THROW(buffers.SetWriteSize(5), std::runtime_error);
  EXPECT_EQ(buffers.WriteSize(), 5);
}

TEST(SettingsObjects, NegativeBufferValuesAreRefusedAndChangeNothing) {
  TSpBuffers buffers;
  Counter changes(buffers);
  EXPECT_THROW(buffers.SetReadSize(-1), std::out_of_range);
  EXPECT_THROW(buffers.SetReadTimeout(-5), std::out_of_range);
  EXPECT_EQ(buffers.ReadSize(), 4096);
  EXPECT_EQ(buffers.ReadTimeout(), 1000);
  EXPECT_EQ(changes.count, 0);
}

}  // namespace
