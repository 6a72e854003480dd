#pragma once
// Names for the ids of the program's string table (resources/strings_it.inc), so that code
// says which text it means instead of a bare number. Pure constants: any thread may use
// them; the texts are looked up with GetString / LoadStringResource (core/string_table.h).
// The table holds the texts that the program sets or formats while it runs; the fixed
// captions and labels of the dialog layouts live with the layouts.

namespace vantrove {

// Program identity and file names
constexpr int kStrCreatorText = 500;
constexpr int kStrUnknown = 675;
constexpr int kStrByteSuffix = 676;
constexpr int kStrPar2Extension = 678;

// Repair progress: current-file texts of the repair activities
constexpr int kStrActivityRenamingFiles = 501;
constexpr int kStrActivityComputingMatrix = 502;
constexpr int kStrActivityRecoveringData = 503;
constexpr int kStrActivityWritingRecoveredData = 504;

// Repair errors (error line of the verify/repair dialog)
constexpr int kStrRepairFailed = 651;
constexpr int kStrErrorCannotRename = 652;
constexpr int kStrErrorCannotCreate = 653;
constexpr int kStrErrorCannotOpen = 654;
constexpr int kStrErrorCannotRead = 655;
constexpr int kStrErrorCannotWrite = 656;
constexpr int kStrErrorSignatureMismatch = 657;
constexpr int kStrErrorReedSolomon = 658;
constexpr int kStrErrorMemoryTest = 659;
constexpr int kStrErrorSystemCode = 660;
constexpr int kStrErrorVerificationFailed = 661;
constexpr int kStrRepairCancelled = 662;
constexpr int kStrErrorSetBusy = 679;

// PAR1 creator names
constexpr int kStrClientVersionMajorMinorSub = 508;
constexpr int kStrClientVersionMajorMinor = 509;
constexpr int kStrClientVersionMajor = 510;
constexpr int kStrUnknownClient = 511;

// File choosers: titles and filters
constexpr int kStrSelectFilesTitle = 519;
constexpr int kStrSelectFolderTitle = 520;
constexpr int kStrFilterAllFiles = 663;
constexpr int kStrFilterChecksumFiles = 664;
constexpr int kStrFilterRecoveryVolumes = 665;
constexpr int kStrSelectRecoveryVolumeTitle = 666;

// Create dialog
constexpr int kStrTooManyFilesSelected = 521;
constexpr int kStrCreateDestinationQuestion = 522;
constexpr int kStrBadDestinationCaption = 523;
constexpr int kStrCannotCreateDestination = 524;
constexpr int kStrDestinationIsFile = 525;
constexpr int kStrCalcTimeCaptionMBs = 526;
constexpr int kStrCalcTimeCaptionMBsTenths = 527;
constexpr int kStrCalcTimeCaptionMBsHundredths = 528;
constexpr int kStrCalcTimeCaptionKBs = 529;
constexpr int kStrEstimateHoursMinutes = 537;
constexpr int kStrEstimateMinutesSeconds = 538;
constexpr int kStrEstimateSeconds = 539;
constexpr int kStrSchemePowersOfTwo = 667;
constexpr int kStrSchemeLimitedToLargest = 668;
constexpr int kStrSchemeEqualSizes = 669;
constexpr int kStrCreateDialogTitle = 677;

// File list columns (create and verify/repair dialogs)
constexpr int kStrColumnFileName = 530;
constexpr int kStrColumnSize = 531;
constexpr int kStrColumnPath = 532;
constexpr int kStrColumnStatus = 533;

// Priority submenu of the system menu
constexpr int kStrPriorityMenu = 543;
constexpr int kStrPriorityLowest = 544;
constexpr int kStrPriorityNormal = 545;
constexpr int kStrPriorityHigh = 546;

// Creation progress dialog
constexpr int kStrPhaseHashingFile = 505;
constexpr int kStrPhaseTestingMemory = 506;
constexpr int kStrPhaseWritingRecoveryData = 507;
constexpr int kStrPhaseVerifyingSplitFile = 512;
constexpr int kStrPhaseReverifyingDataFile = 513;
constexpr int kStrPhaseVerifyingRecoveryFile = 514;
constexpr int kStrCreationSucceededIn = 515;
constexpr int kStrStopCreationQuestion = 516;
constexpr int kStrStopCreationCaption = 517;
constexpr int kStrExitButton = 518;
constexpr int kStrSpeedMBsWhole = 534;
constexpr int kStrSpeedMBsTenths = 535;
constexpr int kStrSpeedKBs = 536;
constexpr int kStrDurationHoursMinutes = 540;
constexpr int kStrDurationMinutesSeconds = 541;
constexpr int kStrDurationSeconds = 542;
constexpr int kStrCreatingTitle = 648;
constexpr int kStrCreationSucceededTitle = 649;
constexpr int kStrCreationFailedTitle = 650;

// Creation failures, by failure code (any other code: kStrCreationFailed)
constexpr int kStrCreationFailedNoSourceFiles = 625;
constexpr int kStrCreationFailedNoSourceBlocks = 626;
constexpr int kStrCreationFailedMatrixMemory = 627;
constexpr int kStrCreationFailedDescriptionPacket = 628;
constexpr int kStrCreationFailedSliceCount = 629;
constexpr int kStrCreationFailedCreateOutput = 630;
constexpr int kStrCreationFailedSizeOutput = 631;
constexpr int kStrCreationFailedOutputBuffer = 632;
constexpr int kStrCreationFailedRsComputation = 633;
constexpr int kStrCreationFailedReadSource = 634;
constexpr int kStrCreationFailedWriteData = 635;
constexpr int kStrCreationFailedWriteHeader = 636;
constexpr int kStrCreationFailedWriteCritical = 637;
constexpr int kStrCreationFailedBlockSignature = 638;
constexpr int kStrCreationFailedMemoryError = 639;
constexpr int kStrCreationFailedPar2Verify = 640;
constexpr int kStrCreationFailedDataVerify = 641;
constexpr int kStrCreationFailed = 642;
constexpr int kStrCreationFailedBusy = 682;

// Verify/repair dialog: buttons and stop question
constexpr int kStrRepairButton = 643;
constexpr int kStrJoinButton = 644;
constexpr int kStrRenameButton = 645;
constexpr int kStrStopButton = 646;
constexpr int kStrExtraButton = 647;
constexpr int kStrStopRepairQuestion = 670;
constexpr int kStrStopRepairCaption = 671;
constexpr int kStrLeftoverFilesOne = 680;
constexpr int kStrLeftoverFiles = 681;

// Verify/repair dialog: window titles while busy, by activity
constexpr int kStrTitleLoading = 547;
constexpr int kStrTitleVerifying = 548;
constexpr int kStrTitleScanning = 549;
constexpr int kStrTitleChecking = 550;
constexpr int kStrTitleSearchingNewFiles = 551;
constexpr int kStrTitleRenaming = 552;
constexpr int kStrTitleComputingMatrix = 553;
constexpr int kStrTitleTestingMemory = 554;
constexpr int kStrTitleRecoveringData = 555;
constexpr int kStrTitleWritingData = 556;

// Verify/repair dialog: window titles while idle, by set state
constexpr int kStrTitleSelectVolume = 557;
constexpr int kStrTitleSelectMoreVolumes = 558;
constexpr int kStrTitleRepairFailed = 559;
constexpr int kStrTitleRepairNeeded = 560;
constexpr int kStrTitleRepairCompleted = 561;
constexpr int kStrTitleAllVerified = 562;
constexpr int kStrTitleScanIncomplete = 563;
constexpr int kStrTitleOneFileNeeded = 564;
constexpr int kStrTitleFilesNeeded = 565;
constexpr int kStrTitleOneBlockNeeded = 566;
constexpr int kStrTitleBlocksNeeded = 567;
constexpr int kStrTitleOneFileMissing = 568;
constexpr int kStrTitleOneFileMissingOrDamaged = 569;
constexpr int kStrTitleFilesMissing = 570;
constexpr int kStrTitleFilesMissingOrDamaged = 571;

// Verify/repair dialog: status line
constexpr int kStrStatusOneMoreFileNeeded = 572;
constexpr int kStrStatusMoreFilesNeeded = 573;
constexpr int kStrStatusOneMoreBlockNeeded = 574;
constexpr int kStrStatusMoreBlocksNeeded = 575;
constexpr int kStrStatusOneFileMissing = 576;
constexpr int kStrStatusOneFileMissingOrDamaged = 577;
constexpr int kStrStatusFilesMissing = 578;
constexpr int kStrStatusFilesMissingOrDamaged = 579;
constexpr int kStrStatusRepairNotNeeded = 580;
constexpr int kStrStatusReadyUsingFiles = 581;
constexpr int kStrStatusReadyUsingBlocks = 582;
constexpr int kStrStatusReadyToRenameOne = 583;
constexpr int kStrStatusReadyToRename = 584;
constexpr int kStrStatusReadyToJoinOne = 585;
constexpr int kStrStatusReadyToJoin = 586;

// Verify/repair dialog: creator line and time line
constexpr int kStrCreatorLineRecovery = 587;
constexpr int kStrCreatorLineChecksum = 588;
constexpr int kStrRepairSucceededIn = 589;

// Verify/repair dialog: file list group rows
constexpr int kStrGroupRecoveryFiles = 590;
constexpr int kStrGroupChecksumFiles = 591;
constexpr int kStrGroupDataFiles = 592;

// Verify/repair dialog: file list status column
constexpr int kStrRowOneRecoveryFile = 593;
constexpr int kStrRowRecoveryFiles = 594;
constexpr int kStrRowOneRecoveryBlock = 595;
constexpr int kStrRowRecoveryBlocks = 596;
constexpr int kStrRowOneBlock = 597;
constexpr int kStrRowBlocks = 598;
constexpr int kStrRowGood = 599;
constexpr int kStrRowDamagedOneBlock = 600;
constexpr int kStrRowDamagedBlocks = 601;
constexpr int kStrRowIncomplete = 602;
constexpr int kStrRowWrongSet = 603;
constexpr int kStrRowUnknownOneBlock = 604;
constexpr int kStrRowUnknownBlocks = 605;
constexpr int kStrRowUnknown = 606;
constexpr int kStrRowOneBlockFound = 607;
constexpr int kStrRowBlocksFound = 608;
constexpr int kStrRowOneFileFound = 609;
constexpr int kStrRowFilesFound = 610;
constexpr int kStrRowComplete = 611;
constexpr int kStrRowRepaired = 612;
constexpr int kStrRowMisnamed = 613;
constexpr int kStrRowIncompletePercent = 614;
constexpr int kStrRowIncompleteOfOneBlock = 615;
constexpr int kStrRowIncompleteOfBlocks = 616;
constexpr int kStrRowMissingPercent = 617;
constexpr int kStrRowMissingOfOneBlock = 618;
constexpr int kStrRowMissingOfBlocks = 619;
constexpr int kStrRowMissing = 620;
constexpr int kStrRowPartlyUnreadable = 683;

// Shell integration
constexpr int kStrPar2FileTypeName = 621;
constexpr int kStrPar1FileTypeName = 622;
constexpr int kStrSfvFileTypeName = 623;
constexpr int kStrMd5FileTypeName = 624;
constexpr int kStrShellExtensionChanged = 672;
constexpr int kStrOpenVerbLabel = 673;
constexpr int kStrFallbackVerbLabel = 674;

}  // namespace vantrove
