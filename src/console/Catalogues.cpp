#include "console/Catalogues.h"

// The items are written one per line, in the order the console lists them. A tab inside an
// item is always spelled "\t" and every run of blanks is written out, because the blanks and
// tabs between "[CR]" and ":" differ from item to item and belong to the item. Spelling slips
// in the descriptions are the projector's own wording and stay as they are.
//
// std::to_array deduces the length from the initialiser, so an item too many or too few
// makes the definition clash with the declared array type and stops the build.

namespace catalogue {

// clang-format off

// Short codes: "C" + two hex digits or "CR" + one digit, "[CR]", five blanks, description.
constexpr std::array<std::string_view, 60> basic = std::to_array<std::string_view>({
    "C00[CR]     POWER ON",
    "C01[CR]     POWER OFF(Quick Power OFF)",
    "C02[CR]     POWER OFF",
    "C04[CR]     HDMI",
    "C05[CR]     Computer 1",
    "C06[CR]     Computer 2",
    "C07[CR]     Video",
    "C09[CR]     VOLUME +",
    "C0A[CR]     VOLUME -",
    "C0B[CR]     AUDIO MUTE ON",
    "C0C[CR]     AUDIO MUTE OFF",
    "C0D[CR]     VIDEO MUTE ON",
    "C0E[CR]     VIDEO MUTE OFF",
    "C0F[CR]     Screen Normal size(4:3)",
    "C10[CR]     Screen Full size",
    "C11[CR]     Image Standard",
    "C12[CR]     Image Real",
    "C13[CR]     Image Cinema",
    "C14[CR]     Image 1",
    "C15[CR]     Image 2",
    "C16[CR]     Image 3",
    "C17[CR]     Image 4",
    "C18[CR]     Image Blackboard",
    "C19[CR]     Image Dynamic",
    "C1C[CR]     MENU ON",
    "C1D[CR]     MENU OFF",
    "C1E[CR]     DISPLAY CLEAR",
    "C20[CR]     BRIGHTNESS +",
    "C21[CR]     BRIGHTNESS -",
    "C27[CR]     IMAGE(Toggle)",
    "C28[CR]     Direct on Enable",
    "C29[CR]     Direct on Disable",
    "C2A[CR]     Power Management Ready",
    "C2B[CR]     Power Management OFF",
    "C2E[CR]     Power Management Shut down",
    "C30[CR]     D.Zoom +",
    "C31[CR]     D.Zoom -",
    "C34[CR]     S-video",
    "C39[CR]     Image Colorboard",
    "C3A[CR]     POINTER RIGHT",
    "C3B[CR]     POINTER LEFT",
    "C3C[CR]     POINTER UP",
    "C3D[CR]     POINTER DOWN",
    "C3F[CR]     ENTER",
    "C43[CR]     FREEZE ON",
    "C44[CR]     FREEZE OFF",
    "C50[CR]     Computer 1 Analog RGB",
    "C51[CR]     Computer 1 Scart",
    "C54[CR]     Computer 1 Component",
    "C89[CR]     Auto PC ADJ.",
    "C8A[CR]     PRESENTATION TIMER",
    "C8B[CR]     PRESENTATION TIMER(Exit)",
    "C8E[CR]     KEYSTONE UP",
    "C8F[CR]     KEYSTONE DOWN",
    "CR0[CR]     Status Read",
    "CR1[CR]     Input Mode Read",
    "CR3[CR]     (Corresponding)Lamp Time Read",
    "CR4[CR]     Setting Read",
    "CR6[CR]     Temp Read",
    "CR7[CR]     Lamp Mode Read",
});

// "CF" set commands. An item with a description heads a group; the bare items after it, up to
// the next head, share that description. A keyword comment marks where each keyword starts.
constexpr std::array<std::string_view, 351> expanded = std::to_array<std::string_view>({
    // BRIGHT
    "CF BRIGHT UP[CR]  \t\t:Set Brightness value",
    "CF BRIGHT DN[CR]",
    "CF BRIGHT 0%%[CR]  \t\t:% = 0-9",
    // CONT
    "CF CONT UP[CR]  \t\t:Set Contrast value",
    "CF CONT DN[CR]",
    "CF CONT 0%%[CR]  \t\t:% = 0-9",
    // COLOR
    "CF COLOR UP[CR]  \t\t:Set Color value",
    "CF COLOR DN[CR]",
    "CF COLOR 0%%[CR]  \t\t:% = 0-9",
    // TINT
    "CF TINT UP[CR]  \t\t:Set Tint value",
    "CF TINT DN[CR]",
    "CF TINT 0%%[CR]  \t\t:% = 0-9",
    // SHARP
    "CF SHARP UP[CR]  \t\t:Set Sharpness value",
    "CF SHARP DN[CR]",
    "CF SHARP 0%%[CR]  \t\t:% = 0-9",
    // GAMMA
    "CF GAMMA UP[CR]  \t\t:Set Gamma value",
    "CF GAMMA DN[CR]",
    "CF GAMMA 0%%[CR]  \t\t:% = 0-9",
    // WBAL-R
    "CF WBAL-R UP[CR]  \t\t:Set White Balance Red value",
    "CF WBAL-R DN[CR]",
    "CF WBAL-R 0%%[CR]  \t\t:% = 0-9",
    // WBAL-G
    "CF WBAL-G UP[CR]  \t\t:Set White Balance Green value",
    "CF WBAL-G DN[CR]",
    "CF WBAL-G 0%%[CR]  \t\t:% = 0-9",
    // WBAL-B
    "CF WBAL-B UP[CR]  \t\t:Set White Balance Blue value",
    "CF WBAL-B DN[CR]",
    "CF WBAL-B 0%%[CR]  \t\t:% = 0-9",
    // COLTEMP
    "CF COLTEMP 000[CR]  \t\t:Set Color Temp. value",
    "CF COLTEMP 001[CR]",
    "CF COLTEMP 002[CR]",
    "CF COLTEMP 003[CR]",
    // PROGV
    "CF PROGV FILM[CR]  \t\t:Set/Cancel Progressive Scan",
    "CF PROGV L1[CR]",
    "CF PROGV L2[CR]",
    "CF PROGV OFF[CR]",
    "CF PROGV UP[CR]",
    "CF PROGV DN[CR]",
    // NZRED
    "CF NZRED OFF[CR]  \t\t:Set/Cancel Noise reduction",
    "CF NZRED L1[CR]",
    "CF NZRED L2[CR]",
    "CF NZRED UP[CR]",
    "CF NZRED DN[CR]",
    // IMAGE
    "CF IMAGE DYNAMIC[CR]  \t\t:Set Image mode",
    "CF IMAGE STAND[CR]",
    "CF IMAGE REAL[CR]",
    "CF IMAGE CINEMA[CR]",
    "CF IMAGE BLACKBOARD[CR]",
    "CF IMAGE COLORBOARD[CR]",
    "CF IMAGE CUSTOM1[CR]",
    "CF IMAGE CUSTOM2[CR]",
    "CF IMAGE CUSTOM3[CR]",
    "CF IMAGE CUSTOM4[CR]",
    // COLBOARD
    "CF COLBOARD RED[CR]  \t\t:Set Colorboard mode",
    "CF COLBOARD BLUE[CR]",
    "CF COLBOARD YELLOW[CR]",
    "CF COLBOARD GREEN[CR]",
    // IMAGEADJ
    "CF IMAGEADJ RST[CR]  \t\t:Reset/Store for image adjustment",
    "CF IMAGEADJ STR1[CR]",
    "CF IMAGEADJ STR2[CR]",
    "CF IMAGEADJ STR3[CR]",
    "CF IMAGEADJ STR4[CR]",
    // FSYNC
    "CF FSYNC UP[CR]  \t\t:Set Fine Sync value",
    "CF FSYNC DN[CR]",
    "CF FSYNC 00%%[CR]  \t\t:% = 0-9",
    // TDOTS
    "CF TDOTS UP[CR]  \t\t:Set Total Dots value",
    "CF TDOTS DN[CR]",
    "CF TDOTS %%%%[CR]  \t\t:% = 0-9",
    // CLAMP
    "CF CLAMP UP[CR]  \t\t:Set Clamp Value",
    "CF CLAMP DN[CR]",
    "CF CLAMP %%%%[CR]  \t\t:% = 0-9",
    // H-POS
    "CF H-POS UP[CR]  \t\t:Set Horizonetal Position value",
    "CF H-POS DN[CR]",
    "CF H-POS %%%%[CR]  \t\t:% = 0-9",
    // V-POS
    "CF V-POS UP[CR]  \t\t:Set Vertical Position value",
    "CF V-POS DN[CR]",
    "CF V-POS %%%%[CR]  \t\t:% = 0-9",
    // DDOTS
    "CF DDOTS UP[CR]  \t\t:Set Display Dots value",
    "CF DDOTS DN[CR]",
    "CF DDOTS %%%%[CR]  \t\t:% = 0-9",
    // DLINE
    "CF DLINE UP[CR]  \t\t:Set Display Line value",
    "CF DLINE DN[CR]",
    "CF DLINE %%%%[CR]  \t\t:% = 0-9",
    // PCSTORE
    "CF PCSTORE MODE1[CR]  \t\t:Store current values of PC Adjust at Mode 1-10",
    "CF PCSTORE MODE2[CR]",
    "CF PCSTORE MODE3[CR]",
    "CF PCSTORE MODE4[CR]",
    "CF PCSTORE MODE5[CR]",
    "CF PCSTORE MODE6[CR]",
    "CF PCSTORE MODE7[CR]",
    "CF PCSTORE MODE8[CR]",
    "CF PCSTORE MODE9[CR]",
    "CF PCSTORE MODE10[CR]",
    // PCMODEFREE
    "CF PCMODEFREE MODE1[CR]  \t:Relese registered values of Mode 1-10",
    "CF PCMODEFREE MODE2[CR]",
    "CF PCMODEFREE MODE3[CR]",
    "CF PCMODEFREE MODE4[CR]",
    "CF PCMODEFREE MODE5[CR]",
    "CF PCMODEFREE MODE6[CR]",
    "CF PCMODEFREE MODE7[CR]",
    "CF PCMODEFREE MODE8[CR]",
    "CF PCMODEFREE MODE9[CR]",
    "CF PCMODEFREE MODE10[CR]",
    // INPUT
    "CF INPUT COMPUTER1[CR]  :Select Input",
    "CF INPUT COMPUTER2[CR]",
    "CF INPUT HDMI[CR]",
    "CF INPUT VIDEO[CR]",
    "CF INPUT S-VIDEO[CR]",
    "CF INPUT UP[CR]",
    "CF INPUT DN[CR]",
    // SOURCE
    "CF SOURCE ANALOG[CR]  \t:Select Input Source",
    "CF SOURCE YPBPR[CR]",
    "CF SOURCE S-VIDEO[CR]",
    "CF SOURCE SCART[CR]",
    "CF SOURCE HDMI[CR]",
    "CF SOURCE VIDEO[CR]",
    "CF SOURCE UP[CR]",
    "CF SOURCE DN[CR]",
    // INPUT1
    "CF INPUT1 ANALOG[CR]  \t:Select Input11 and also set input source to %1",
    "CF INPUT1 YPBPR[CR]",
    "CF INPUT1 SCART[CR]",
    // INPUT2
    "CF INPUT2 ANALOG[CR]  \t:Select Input12 and also set input source to %1",
    // INPUT3
    "CF INPUT3 HDMI[CR]  \t:Select Input13 and also set input source to %1",
    // INPUT4
    "CF INPUT4 VIDEO[CR]  \t:Select Input14 and also set input source to %1",
    // INPUT5
    "CF INPUT5 S-VIDEO[CR]  \t:Select Input15 and also set input source to %1",
    // INPUT
    "CF INPUT COMPUTER1 ANALOG[CR]  \t:Select Input and Source",
    "CF INPUT COMPUTER1 YPBPR[CR]",
    "CF INPUT COMPUTER1 SCART[CR]",
    "CF INPUT COMPUTER2 ANALOG[CR]",
    "CF INPUT HDMI HDMI[CR]",
    "CF INPUT VIDEO VIDEO[CR]",
    "CF INPUT S-VIDEO S-VIDEO[CR]",
    // SYSTEM
    "CF SYSTEM VGA1[CR]  \t\t:Select System",
    "CF SYSTEM XGA1[CR]",
    "CF SYSTEM WXGA3[CR]",
    "CF SYSTEM AUTO[CR]",
    "CF SYSTEM NTSC[CR]",
    "CF SYSTEM NTSC443[CR]",
    "CF SYSTEM PAL[CR]",
    "CF SYSTEM SECAM[CR]",
    "CF SYSTEM PAL-M[CR]",
    "CF SYSTEM PAL-N[CR]",
    "CF SYSTEM 1080I[CR]",
    "CF SYSTEM 1035I[CR]",
    "CF SYSTEM 720P[CR]",
    "CF SYSTEM 575P[CR]",
    "CF SYSTEM 480P[CR]",
    "CF SYSTEM 575I[CR]",
    "CF SYSTEM 480I[CR]",
    "CF SYSTEM D-XGA1[CR]",
    "CF SYSTEM D-WXGA3[CR]",
    "CF SYSTEM D-1080I[CR]",
    "CF SYSTEM D-1035I[CR]",
    "CF SYSTEM D-720P[CR]",
    "CF SYSTEM D-575P[CR]",
    "CF SYSTEM D-480P[CR]",
    // SCREEN
    "CF SCREEN NORMAL[CR]  \t\t:Select Screen size",
    "CF SCREEN FULL[CR]",
    "CF SCREEN WIDE[CR]",
    "CF SCREEN ZOOM[CR]",
    "CF SCREEN TRUE[CR]",
    "CF SCREEN CUSTOM[CR]",
    "CF SCREEN NATURAL[CR]",
    "CF SCREEN DZOOM UP[CR]",
    "CF SCREEN DZOOM DN[CR]",
    "CF SCREEN UP[CR]",
    "CF SCREEN DN[CR]",
    // DZCENT
    "CF DZCENT CENT[CR]  \t\t:Cancel Digital Zoom mode",
    // VSCALE
    "CF VSCALE UP[CR]  \t\t:Set value of Vertical scale",
    "CF VSCALE DN[CR]",
    "CF VSCALE %%%[CR]  \t\t:% = 0-9",
    // VPOS
    "CF VPOS UP[CR]  \t\t:Set value of Vertical position",
    "CF VPOS DN[CR]",
    "CF VPOS %%%[CR]  \t\t:% = 0-9",
    // HSCALE
    "CF HSCALE UP[CR]  \t\t:Set value of Horizontal scale",
    "CF HSCALE DN[CR]",
    "CF HSCALE %%%[CR]  \t\t:% = 0-9",
    // HPOS
    "CF HPOS UP[CR]  \t\t:Set value of Horizontal position",
    "CF HPOS DN[CR]",
    "CF HPOS %%%[CR]  \t\t:% = 0-9",
    // KEYSTONE
    "CF KEYSTONE UP[CR]  \t\t:Set Keystone",
    "CF KEYSTONE FUP[CR]",
    "CF KEYSTONE DN[CR]",
    "CF KEYSTONE FDN[CR]",
    "CF KEYSTONE RST[CR]",
    // KYSTNMODE
    "CF KYSTNMODE STR[CR]  \t\t:Set Keystone Store mode",
    "CF KYSTNMODE RST[CR]",
    // CEIL
    "CF CEIL ON[CR]  \t\t:Set Celling function",
    "CF CEIL OFF[CR]",
    // REAR
    "CF REAR ON[CR]  \t\t:Set Rear function",
    "CF REAR OFF[CR]",
    // SCREENASPECT
    "CF SCREENASPECT 43MODE[CR]",
    "CF SCREENASPECT 169MODE[CR]",
    "CF SCREENASPECT 1610MODE[CR]",
    // LAMPMODE
    "CF LAMPMODE AUTO[CR]\t\t:Select Lamp mode",
    "CF LAMPMODE NORMAL[CR]",
    "CF LAMPMODE ECO1[CR]",
    "CF LAMPMODE ECO2[CR]",
    "CF LAMPMODE UP[CR]",
    "CF LAMPMODE DN[CR]",
    // LAMPLIFECONTRL
    "CF LAMPLIFECONTRL MODE1[CR]",
    "CF LAMPLIFECONTRL MODE2[CR]",
    // VOLUME
    "CF VOLUME UP[CR]  \t:Set Volume value",
    "CF VOLUME DN[CR]",
    "CF VOLUME 0%%[CR]  \t:% = 0-9",
    // MUTE
    "CF MUTE ON[CR]  \t:Control ON/OFF of Sound Mute",
    "CF MUTE OFF[CR]",
    // MIC
    "CF MIC ON[CR]\t\t:Set MIC function",
    "CF MIC OFF[CR]",
    // MICGAIN
    "CF MICGAIN UP[CR]  \t:Set Volume value",
    "CF MICGAIN DN[CR]",
    "CF MICGAIN 0%%[CR]  \t:% = 0-9",
    // STANDBYMICOUT
    "CF STANDBYMICOUT ON[CR]",
    "CF STANDBYMICOUT OFF[CR]",
    // LANG
    "CF LANG ENG[CR]  \t\t:Select English        Select language for OSD",
    "CF LANG DEU[CR]  \t\t:Select Geman",
    "CF LANG FRA[CR]  \t\t:Select French",
    "CF LANG ITA[CR]  \t\t:Select Italian",
    "CF LANG ESP[CR]  \t\t:Select Spanish",
    "CF LANG POR[CR]  \t\t:Select Portuguese",
    "CF LANG NED[CR]  \t\t:Select Dutch",
    "CF LANG SVE[CR]  \t\t:Select Swedish",
    "CF LANG FIN[CR]  \t\t:Select Finnish",
    "CF LANG POL[CR]  \t\t:Select polish",
    "CF LANG HUN[CR]  \t\t:Select Hungarian",
    "CF LANG ROM[CR]  \t\t:Select Romanian",
    "CF LANG CZE[CR]  \t\t:Select Cheskey",
    "CF LANG RUS[CR]  \t\t:Select Russian",
    "CF LANG TUR[CR]  \t\t:Select Turkish",
    "CF LANG ARA[CR]  \t\t:Select Arabic",
    "CF LANG KAZ[CR]  \t\t:Select Kazakh",
    "CF LANG VIE[CR]  \t\t:Select Vietnamese",
    "CF LANG CHI[CR]  \t\t:Select Chinese",
    "CF LANG KOR[CR]  \t\t:Select Korean",
    "CF LANG JPN[CR]  \t\t:Select Japanese",
    "CF LANG THA[CR]  \t\t:Select Thai",
    // MENUPOSITION
    "CF MENUPOSITION SET[CR]  \t:Move nenu position",
    // INPUTSEARCH
    "CF INPUTSEARCH OFF[CR]  \t:Set up Input search function",
    "CF INPUTSEARCH ON1[CR]",
    "CF INPUTSEARCH ON2[CR]",
    // AUTOSETUPPCADJ
    "CF AUTOSETUPPCADJ ON[CR]  \t:Set Auto PC in Auto Setup",
    "CF AUTOSETUPPCADJ OFF[CR]",
    // AUTOSETUP
    "CF AUTOSETUP START[CR]  \t:Excute Auto Setup",
    // BACKGND
    "CF BACKGND BLUE[CR]  \t\t:Set Screen mode for the case of no signal",
    "CF BACKGND USER[CR]",
    "CF BACKGND BLACK[CR]",
    "CF BACKGND UP[CR]",
    "CF BACKGND DN[CR]",
    // DISP
    "CF DISP ON[CR]  \t\t:Set Display function",
    "CF DISP CNTDWNOFF[CR]",
    "CF DISP OFF[CR]",
    "CF DISP UP[CR]",
    "CF DISP DN[CR]",
    // LOGO
    "CF LOGO %%%% OFF[CR]  \t\t:Set Logo function",
    "CF LOGO %%%% DFLT[CR]",
    "CF LOGO %%%% USER[CR]",
    "CF LOGO %%%% UP[CR]",
    "CF LOGO %%%% DN[CR]",
    // HDMISETUP
    "CF HDMISETUP NORMAL[CR]",
    "CF HDMISETUP ENHANCED[CR]",
    // HDMISOUND
    "CF HDMISOUND HDMI[CR]",
    "CF HDMISOUND EXTERNAL[CR]",
    // PIP
    "CF PIP OFF[CR]  \t\t:Set Picture in Picture function ",
    "CF PIP PINP[CR]",
    "CF PIP PBYP[CR]",
    "CF PIP UP[CR]",
    "CF PIP DN[CR]",
    // PIPSIZE
    "CF PIPSIZE SMALL[CR]\t:Select PinP Main and Sub Windows Size",
    "CF PIPSIZE MIDDLE[CR]",
    "CF PIPSIZE LARGE[CR]",
    "CF PIPSIZE UP[CR]",
    "CF PIPSIZE DN[CR]",
    // PIPPOSITION
    "CF PIPPOSITION BTMRIGHT[CR]\t        :Set PinP Position",
    "CF PIPPOSITION BTMLEFT[CR]",
    "CF PIPPOSITION TOPRIGHT[CR]",
    "CF PIPPOSITION TOPLEFT[CR]",
    "CF PIPPOSITION UP[CR]",
    "CF PIPPOSITION DN[CR]",
    // P-MANE
    "CF P-MANE OFF[CR]  \t\t:Set Power management function",
    "CF P-MANE READY[CR]",
    "CF P-MANE SHUTDOWN[CR]",
    "CF P-MANE UP[CR]",
    "CF P-MANE DN[CR]",
    // P-MANETIME
    "CF P-MANETIME UP[CR]  \t\t:Set Power management time",
    "CF P-MANETIME DN[CR]",
    "CF P-MANETIME %%[CR]",
    // ON-STA
    "CF ON-STA ON[CR]  \t\t:Set Power ON Start function",
    "CF ON-STA OFF[CR]",
    "CF ON-STA UP[CR]",
    "CF ON-STA DN[CR]",
    // STANDBYMODE
    "CF STANDBYMODE ECO[CR]  \t:Set Standby Mode",
    "CF STANDBYMODE NORMAL[CR]",
    // PTIMEMODE
    "CF PTIMEMODE COUNTUP[CR] \t:Set count up/count down P-timer function",
    "CF PTIMEMODE COUNTDN[CR]",
    // PTIMER
    "CF PTIMER START[CR] \t\t:Set the status of P-timer",
    "CF PTIMER STOP[CR]",
    "CF PTIMER RESTART[CR]",
    "CF PTIMER RST[CR]",
    "CF PTIMER EXIT[CR]",
    // PTIME
    "CF PTIME %%%[CR] \t\t:Set Countdown timer for P-timer",
    // CCAPTIONDISP
    "CF CCAPTIONDISP OFF[CR]  \t:Set channel of Closed caption",
    "CF CCAPTIONDISP CC1[CR]",
    "CF CCAPTIONDISP CC2[CR]",
    "CF CCAPTIONDISP CC3[CR]",
    "CF CCAPTIONDISP CC4[CR]",
    // CCAPTIONCOLOR
    "CF CCAPTIONCOLOR COLOR[CR]  \t:Set color of Closed caption",
    "CF CCAPTIONCOLOR WHITE[CR]",
    // RCODE
    "CF RCODE 001[CR]  \t\t:Select Remote Control Receptin Code",
    "CF RCODE 002[CR]",
    "CF RCODE UP[CR]",
    "CF RCODE DN[CR]",
    // KEYDIS
    "CF KEYDIS NONE[CR]  \t\t:Disable RC/Projector keys",
    "CF KEYDIS RC[CR]",
    "CF KEYDIS KEY[CR]",
    // PJPINCODE
    "CF PJPINCODE %%%%[CR]  \t\t:input PIN code release PJ Lock",
    // FANMODE
    "CF FANMODE L1[CR]  \t\t:Select Fan mode",
    "CF FANMODE L2[CR]",
    // FANCONTROL
    "CF FANCONTROL OFF[CR]  \t\t:Select Fan control mode",
    "CF FANCONTROL ON1[CR]",
    "CF FANCONTROL ON2[CR]",
    // DELAYCTRL
    "CF DELAYCTRL ON[CR]  \t\t:Set Video delay control",
    "CF DELAYCTRL OFF[CR]",
    // FILTIMER
    "CF FILTIMER 1000[CR]  \t\t:Set time when Filter warning OSD is displayed",
    "CF FILTIMER 2000[CR]",
    "CF FILTIMER 3000[CR]",
    "CF FILTIMER 4000[CR]",
    "CF FILTIMER 5000[CR]",
    "CF FILTIMER 6000[CR]",
    "CF FILTIMER OFF[CR]",
    "CF FILTIMER UP[CR]",
    "CF FILTIMER DN[CR]",
    // FILH
    "CF FILH RST[CR]  \t\t:Reset Filter used time",
    // TTLPWRSAVE
    "CF TTLPWRSAVE RST[CR]\t\t:Reset Total Power Saving",
    // FDEFAULT
    "CF FDEFAULT RST[CR]  \t\t:Set the value to Factory Default ",
    // KEYEMU
    "CF KEYEMU RIGHT[CR]  \t:Behave the same as corresponding key of projector top panel",
    "CF KEYEMU LEFT[CR]",
    "CF KEYEMU UP[CR]",
    "CF KEYEMU DN[CR]",
    "CF KEYEMU SELECT[CR]",
    "CF KEYEMU AUTOPC[CR]",
    // MENU
    "CF MENU ON[CR]  \t:Switch ON/OFF of each Menu.",
    "CF MENU OFF[CR]",
    // POWER
    "CF POWER ON[CR]  \t:Switch ON/OFF of Power.",
    "CF POWER OFF[CR]",
    // FREEZE
    "CF FREEZE ON[CR]  \t:Set Freezefunction.",
    "CF FREEZE OFF[CR]",
    "CF FREEZE UP[CR]",
    "CF FREEZE DN[CR]",
    // VMUTE
    "CF VMUTE ON[CR]  \t:Set No show function.",
    "CF VMUTE OFF[CR]",
    "CF VMUTE UP[CR]",
    "CF VMUTE DN[CR]",
});

// "CR" read commands; every item has its own description.
constexpr std::array<std::string_view, 98> expandedRead = std::to_array<std::string_view>({
    "CR BRIGHT[CR] \t:Get Brightness value",
    "CR CONT[CR] \t:Get Contrast value",
    "CR COLOR[CR] \t:Get Color value",
    "CR TINT[CR] \t:Get Tint valu",
    "CR SHARP[CR] \t:Get Sharpness value",
    "CR GAMMA[CR] \t:Get Gamma value",
    "CR WBAL-R[CR] \t:Get White Balance Red value",
    "CR WBAL-G[CR] \t:Get White Balance Green value",
    "CR WBAL-B[CR] \t:Get White Balance Blue value",
    "CR COLTEMP[CR] \t:Get setting Color of temperatue",
    "CR NZRED[CR] \t:Get setting status of Noise reduction",
    "CR PROGV[CR] \t:Get setting status of Progressive scan",
    "CR IMAGE[CR] \t:Get Selected image status",
    "CR IMGGMD[CR] \t:Get setting value of image Gamma",
    "CR COLBOARD[CR] :Get Selected Colorboard mode",
    "CR FSYNC[CR] \t:Get setting value of Fine Sync",
    "CR TDOTS[CR] \t:Get setting value of Total Dots",
    "CR CLAMP[CR] \t:Get setting value of Clamp",
    "CR H-POS[CR] \t:Get setting value of Horizontal Position",
    "CR V-POS[CR] \t:Get setting value of Vertical Position",
    "CR DDOTS[CR] \t:Get setting value of Display Dots",
    "CR DLINE[CR] \t:Get setting value of Display Line",
    "CR PCSTORE[CR] \t:Get Free or Stored status for PC Adj.mode1-5",
    "CR SERSYS[CR] \t:Get selected current signal. When in Auto mode, it returns a result by Auto detect",
    "CR INPUT[CR] \t:Get selected Input No.",
    "CR SOURCE[CR] \t:Get selected source of currently selected input",
    "CR SRCINP1[CR] \t:Get selected source of Computer1",
    "CR SRCINP2[CR] \t:Get selected source of Computer2",
    "CR SRCINP3[CR] \t:Get selected source of Computer3",
    "CR SRCINP4[CR] \t:Get selected source of Computer4",
    "CR SRCINP5[CR] \t:Get selected source of Computer5",
    "CR SYSTEM[CR] \t:Get selected system status in input mode",
    "CR SYSLIST[CR] \t:Get selectable System table",
    "CR MODELIST[CR] :Get selectable Mode table",
    "CR SCREEN[CR] \t:Get selected screen size",
    "CR VSCALE[CR] \t:Get setting status of Vertical Scale",
    "CR VPOS[CR] \t:Get setting status of Vertical Position",
    "CR HSCALE[CR] \t:Get setting status of Horizontal Scale",
    "CR HPOS[CR] \t:Get setting status of Horizontal Position",
    "CR KYSTNMODE[CR] :Get setting status of Keystone Store mode",
    "CR CEIL[CR] \t:Get setting status of Ceiling",
    "CR REAR[CR] \t:Get setting status of Rear",
    "CR SCREENASPECT[CR] :Get setting status of Screen aspect",
    "CR LAMPREPL[CR] :Get the information for Lamp replacement time",
    "CR LAMPH[CR] \t:Get lamp total running time",
    "CR LAMPCORRESPH[CR] :Get corresponding lamp use time",
    "CR LAMPMODE[CR] :Get Lamp Mode status",
    "CR LAMPSTS[CR] \t:Get lamp lighting status",
    "CR PROJH[CR] \t:Get projector running time",
    "CR HMLAMP[CR] \t:Get lamp number",
    "CR LAMPLIFECONTRL[CR] :Get Lamp Life Control status",
    "CR VOLUME[CR] \t:Get Volume value",
    "CR MUTE[CR] \t:Get Sound Mute setting status",
    "CR MIC[CR] \t:Get MIC Mode setting status",
    "CR MICGAIN[CR] \t:Get MIC GAIN Mode setting status",
    "CR STANDBYMICOUT[CR] :Get Standby MIC Out setting status",
    "CR LANG[CR] \t:Get selected language",
    "CR INPUTSEARCH[CR] :Get setting status of Input search",
    "CR AUTOSETUPPCADJ[CR] :Get setting status of Auto PC in Auto setup",
    "CR AUTOSETUPKEYSTONE[CR] :Get setting status of Keystone in Auto setup",
    "CR BACKGND[CR] \t:Get setting status screen mode for the case of no signal",
    "CR DISP[CR] \t:Get setting status of Display",
    "CR LOGO[CR] \t:GET setting status of Logo",
    "CR HDMISETUP[CR] :Get setting status of HDMI setup",
    "CR HDMISETUPSOUND[CR] :Get setting status of HDMI setup sound",
    "CR TERMINAL[CR] :Get setting status of Terminal",
    "CR PIP[CR] :Get setting status of P IN P",
    "CR PIPSIZE[CR] :Get setting status of P IN P size",
    "CR PIPPOSITION[CR] :Get setting status of P IN P Position",
    "CR P-MANE[CR] \t:Get setting status of Power management",
    "CR P-MANETIME[CR] :Get setting time for Power management",
    "CR ON-STA[CR] \t:Get setting status of ON Start",
    "CR STANDBYMODE[CR] :Get setting status of Standby Mode",
    "CR PTIMEMODE[CR] :Get setting mode of P-timer",
    "CR PTIMER[CR] \t:Get status of P-timer",
    "CR PTIME[CR] \t:Get setting time for count down mode in P-timer",
    "CR CCAPTIONDISP[CR] :Get setting status of channel of Closed caption",
    "CR CCAPTIONCOLOR[CR] :Get setting status of color of Closed caption",
    "CR RCODE[CR] \t:Get selsected Remote Control Code",
    "CR SECURITY[CR] :Get setting status of Security",
    "CR KEYDIS[CR] \t:Get RC/KEY disability status",
    "CR PJLOCKNOW[CR] :Get if PJ Lock is actually in operation",
    "CR PJLOCKMENU[CR] :Get setting status of PJ Lock on Menu",
    "CR FANMODE[CR] \t:Get selected Fan mode",
    "CR FANCONTROL[CR] :Get selected Fan Control Mode",
    "CR DELAYCTRL[CR] :Get selected Status of Video delay Control",
    "CR FILH[CR] \t:Get Filter used time",
    "CR FILREPL[CR] \t:Get the information for Filter replacement time",
    "CR FILTIMER[CR] :Get time when Filter warning OSD is displayed",
    "CR TTLPWRSAVEKWH[CR] :Get information for value of total power saving (kWh)",
    "CR TTLPWRSAVECO2[CR] :Get information for value of total power saving (kg/CO2)",
    "CR STATUS[CR] \t:Get setting status of Projector behavior",
    "CR SIGNAL[CR] \t:Get Signal Status if there is a signal or not",
    "CR VMUTE[CR] \t:Get setting status of No Show",
    "CR FREEZE[CR] \t:Get setting status of Freeze",
    "CR TEMPWARN[CR] :Get if temperature is close to abnomal temperature",
    "CR TEMP[CR] \t:Get current temperature atatus",
    "CR TEMPFAIL[CR] :Get temperature when sensors approach abnomal temperature",
});

// clang-format on

QString commandTextOf(QStringView item) {
    const qsizetype bracket = item.indexOf(u'[');
    return (bracket < 0 ? item : item.left(bracket)).toString();
}

bool hasPlaceholder(QStringView item) { return item.contains(u'%'); }

QString shownText(QStringView item) {
    constexpr qsizetype tabStop = 8;
    QString shown;
    shown.reserve(item.size() + tabStop);
    for (const QChar c : item) {
        if (c == u'\t')
            shown.append(QString(tabStop - shown.size() % tabStop, u' '));
        else
            shown.append(c);
    }
    return shown;
}

QString toQString(std::string_view item) {
    return QString::fromLatin1(item.data(), static_cast<qsizetype>(item.size()));
}

} // namespace catalogue
