// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The message pairs (Chinese id, English id) of the string table that the
// transfer session and its wire drivers show and report, named once.
namespace tapeway::messages {

constexpr int kRowStartZh = 122, kRowStartEn = 123;
constexpr int kReceivedZh = 134, kReceivedEn = 135;
constexpr int kReceiveErrorZh = 136, kReceiveErrorEn = 137;
constexpr int kCannotReadWholeZh = 140, kCannotReadWholeEn = 141;
constexpr int kNoDataZh = 142, kNoDataEn = 143;
constexpr int kCannotOpenZh = 144, kCannotOpenEn = 145;
constexpr int kNoSuchFileZh = 146, kNoSuchFileEn = 147;
constexpr int kNoTargetZh = 148, kNoTargetEn = 149;
constexpr int kSentZh = 152, kSentEn = 153;
constexpr int kSendErrorZh = 154, kSendErrorEn = 155;
constexpr int kLinkBrokenZh = 156, kLinkBrokenEn = 157;
constexpr int kPortErrorZh = 163, kPortErrorEn = 162;
constexpr int kCannotSaveZh = 165, kCannotSaveEn = 164;
constexpr int kRowCompleteZh = 170, kRowCompleteEn = 171;
constexpr int kRowFailedZh = 175, kRowFailedEn = 174;
constexpr int kBaudNotNumberZh = 180, kBaudNotNumberEn = 181;
constexpr int kBaudNotSettableZh = 182, kBaudNotSettableEn = 183;
constexpr int kPermissionHintZh = 184, kPermissionHintEn = 185;
constexpr int kInUseHintZh = 186, kInUseHintEn = 187;
constexpr int kKeptInZh = 188, kKeptInEn = 189;
constexpr int kNotKeptZh = 190, kNotKeptEn = 191;
constexpr int kAnnouncedZh = 192, kAnnouncedEn = 193;
constexpr int kNotRegularZh = 194, kNotRegularEn = 195;
constexpr int kNoRoomZh = 196, kNoRoomEn = 197;
constexpr int kFolderNotWritableZh = 198, kFolderNotWritableEn = 199;
constexpr int kFixedSpeedZh = 200, kFixedSpeedEn = 201;
constexpr int kNoFolderZh = 224, kNoFolderEn = 225;
constexpr int kFileNotWritableZh = 226, kFileNotWritableEn = 227;
constexpr int kNotSerialZh = 228, kNotSerialEn = 229;
constexpr int kRefusedCharacterZh = 230, kRefusedCharacterEn = 231;
constexpr int kParityZh = 232, kParityEn = 233;
constexpr int kBreakZh = 234, kBreakEn = 235;
constexpr int kUnknownCodeZh = 236, kUnknownCodeEn = 237;
constexpr int kEvenHolesZh = 238, kEvenHolesEn = 239;
constexpr int kTvCheckZh = 240, kTvCheckEn = 241;
constexpr int kSilenceZh = 242, kSilenceEn = 243;
constexpr int kBadProfileZh = 244, kBadProfileEn = 245;
constexpr int kFeedAtBlockZh = 268, kFeedAtBlockEn = 269;
constexpr int kFeedAtLineZh = 270, kFeedAtLineEn = 271;
constexpr int kSinceXonZh = 272, kSinceXonEn = 273;
constexpr int kHeldForZh = 274, kHeldForEn = 275;
constexpr int kWaitingForXonZh = 276, kWaitingForXonEn = 277;
constexpr int kFeedCancelledZh = 278, kFeedCancelledEn = 279;
constexpr int kRestartBlockZh = 280, kRestartBlockEn = 281;
constexpr int kRestartLineZh = 282, kRestartLineEn = 283;
constexpr int kFeedNotPreparedZh = 284, kFeedNotPreparedEn = 285;
constexpr int kRowRefusedZh = 286, kRowRefusedEn = 287;

} // namespace tapeway::messages
