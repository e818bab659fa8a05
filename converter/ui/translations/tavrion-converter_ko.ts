<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ko_KR" sourcelanguage="en">
<context>
    <name>StringTable</name>
    <message>
        <source>TavrionConverter

TavrionConverte
TavrionConverter Files (*.tvc)
.tvc
TavrionConverter.Document
TavrionConverter.Document</source>
        <translation>TavrionConverter

TavrionConverte
TavrionConverter 배치 파일 (*.tvc)
.tvc
TavrionConverter.Document
TavrionConverter.Document</translation>
    </message>
    <message>
        <source>Source file</source>
        <translation>원본 파일</translation>
    </message>
    <message>
        <source>Status</source>
        <translation>상태</translation>
    </message>
    <message>
        <source>Duration</source>
        <translation>재생 시간</translation>
    </message>
    <message>
        <source>Frame Size</source>
        <translation>프레임 크기</translation>
    </message>
    <message>
        <source>File Size</source>
        <translation>파일 크기</translation>
    </message>
    <message>
        <source>Playing</source>
        <translation>재생 중</translation>
    </message>
    <message>
        <source>Paused</source>
        <translation>일시 정지됨</translation>
    </message>
    <message>
        <source>Ready</source>
        <translation>준비됨</translation>
    </message>
    <message>
        <source>Converting</source>
        <translation>변환 중</translation>
    </message>
    <message>
        <source>Converted</source>
        <translation>변환 완료</translation>
    </message>
    <message>
        <source>Interrupted</source>
        <translation>중단됨</translation>
    </message>
    <message>
        <source>Interrupted at %1</source>
        <translation>%1에서 중단됨</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>오류</translation>
    </message>
    <message>
        <source>Error: %1</source>
        <translation>오류: %1</translation>
    </message>
    <message>
        <source>Invalid file of subtitles</source>
        <translation>올바르지 않은 자막 파일</translation>
    </message>
    <message>
        <source>Cannot read</source>
        <translation>읽을 수 없음</translation>
    </message>
    <message>
        <source>Cannot decode %1 video: this program has no decoder for it</source>
        <translation>%1 비디오를 디코딩할 수 없습니다: 이 프로그램에 해당 디코더가 없습니다</translation>
    </message>
    <message>
        <source>Cannot decode %1 audio: this program has no decoder for it</source>
        <translation>%1 오디오를 디코딩할 수 없습니다: 이 프로그램에 해당 디코더가 없습니다</translation>
    </message>
    <message>
        <source>Cannot decode %1 media: this program has no decoder for it</source>
        <translation>%1 미디어를 디코딩할 수 없습니다: 이 프로그램에 해당 디코더가 없습니다</translation>
    </message>
    <message>
        <source>%1 (subtitles read as %2)</source>
        <translation>%1 (자막을 %2 인코딩으로 읽음)</translation>
    </message>
    <message>
        <source>The file has no video to convert.</source>
        <translation>이 파일에는 변환할 비디오가 없습니다.</translation>
    </message>
    <message>
        <source>The file&apos;s only picture is a still cover image; there is no video to convert.</source>
        <translation>이 파일의 그림은 정지된 표지 이미지뿐이어서 변환할 비디오가 없습니다.</translation>
    </message>
    <message>
        <source>Subtitles: %1</source>
        <translation>자막: %1</translation>
    </message>
    <message>
        <source>Subtitles: %1 (%2)</source>
        <translation>자막: %1 (%2)</translation>
    </message>
    <message>
        <source>Video for Merolan camera</source>
        <translation>Merolan 카메라용 비디오</translation>
    </message>
    <message>
        <source>Fit|Crop|Stretch</source>
        <translation>맞춤|자르기|늘이기</translation>
    </message>
    <message>
        <source>unlimited|32 MB|64 MB|128 MB|256 MB|512 MB</source>
        <translation>제한 없음|32 MB|64 MB|128 MB|256 MB|512 MB</translation>
    </message>
    <message>
        <source>Video Files|*.avi;*.mpg;*.mpeg;*.wmv;*.asf;*.mov;*.qt;*.3gp;*.3gpp;*.3g2;*.3gp2;*.mp4;*.mpg4;*.m4v;*.mkv;*.webm;*.mts;*.m2ts;*.ts;*.vob;*.flv;*.qvf|All Files|*.*||</source>
        <translation>비디오 파일|*.avi;*.mpg;*.mpeg;*.wmv;*.asf;*.mov;*.qt;*.3gp;*.3gpp;*.3g2;*.3gp2;*.mp4;*.mpg4;*.m4v;*.mkv;*.webm;*.mts;*.m2ts;*.ts;*.vob;*.flv;*.qvf|모든 파일|*.*||</translation>
    </message>
    <message>
        <source>SAMI, SubRip, WebVTT and SSA/ASS subtitles|*.smi;*.sami;*.srt;*.vtt;*.ssa;*.ass|All files|*.*||</source>
        <translation>SAMI, SubRip, WebVTT, SSA/ASS 자막|*.smi;*.sami;*.srt;*.vtt;*.ssa;*.ass|모든 파일|*.*||</translation>
    </message>
    <message>
        <source>Cannot find matching subtitle file</source>
        <translation>일치하는 자막 파일을 찾을 수 없습니다</translation>
    </message>
    <message>
        <source>Bigger</source>
        <translation>크게</translation>
    </message>
    <message>
        <source>Smaller</source>
        <translation>작게</translation>
    </message>
    <message>
        <source>Standard</source>
        <translation>표준</translation>
    </message>
    <message>
        <source>Estimated file size %1B</source>
        <translation>예상 파일 크기 %1B</translation>
    </message>
    <message>
        <source>Current file: %1</source>
        <translation>현재 파일: %1</translation>
    </message>
    <message>
        <source>Elapsed: %1</source>
        <translation>경과 시간: %1</translation>
    </message>
    <message>
        <source>Remaining: %1</source>
        <translation>남은 시간: %1</translation>
    </message>
    <message>
        <source>Converting file #%1 from %2</source>
        <translation>전체 %2개 중 %1번째 파일 변환 중</translation>
    </message>
    <message>
        <source>&amp;Convert</source>
        <translation>변환(&amp;C)</translation>
    </message>
    <message>
        <source>&amp;Pause</source>
        <translation>일시 정지(&amp;P)</translation>
    </message>
    <message>
        <source>&amp;Resume</source>
        <translation>계속(&amp;R)</translation>
    </message>
    <message>
        <source>&amp;Break</source>
        <translation>중단(&amp;B)</translation>
    </message>
    <message>
        <source>Set movie start point
Move to set start point</source>
        <translation>동영상 시작 지점 설정
끌어서 시작 지점을 정합니다</translation>
    </message>
    <message>
        <source>Set movie end point
Move to set end point</source>
        <translation>동영상 끝 지점 설정
끌어서 끝 지점을 정합니다</translation>
    </message>
    <message>
        <source>For Help, press F1</source>
        <translation>도움말을 보려면 F1 키를 누르세요</translation>
    </message>
    <message>
        <source>&amp;Fit to window</source>
        <translation>창에 맞춤(&amp;F)</translation>
    </message>
    <message>
        <source>&amp;Actual size</source>
        <translation>실제 크기(&amp;A)</translation>
    </message>
    <message>
        <source>actual size, drag to move</source>
        <translation>실제 크기, 끌어서 이동</translation>
    </message>
    <message>
        <source>Shown at actual size: drag to move the picture, double-click to fit it to the window</source>
        <translation>실제 크기로 표시 중: 끌어서 그림을 옮기고, 두 번 클릭하면 창에 맞춥니다</translation>
    </message>
    <message>
        <source>Fitted to the window: double-click to show it at actual size</source>
        <translation>창에 맞춰 표시 중: 두 번 클릭하면 실제 크기로 봅니다</translation>
    </message>
    <message>
        <source>bytes|KB|MB|GB|TB</source>
        <translation>바이트|KB|MB|GB|TB</translation>
    </message>
    <message>
        <source>Remove &amp;after conversion</source>
        <translation>변환 후 목록에서 제거(&amp;A)</translation>
    </message>
    <message>
        <source>Add subtitles</source>
        <translation>자막 추가</translation>
    </message>
    <message>
        <source>&amp;Use subtitles from file</source>
        <translation>파일의 자막 사용(&amp;U)</translation>
    </message>
    <message>
        <source>Subti&amp;tles file</source>
        <translation>자막 파일(&amp;T)</translation>
    </message>
    <message>
        <source>Brows&amp;e...</source>
        <translation>찾아보기(&amp;E)...</translation>
    </message>
    <message>
        <source>&amp;Language</source>
        <translation>언어(&amp;L)</translation>
    </message>
    <message>
        <source>Si&amp;ze</source>
        <translation>크기(&amp;Z)</translation>
    </message>
    <message>
        <source>Produce</source>
        <translation>출력</translation>
    </message>
    <message>
        <source>Output fol&amp;der</source>
        <translation>출력 폴더(&amp;D)</translation>
    </message>
    <message>
        <source>Bro&amp;wse...</source>
        <translation>찾아보기(&amp;W)...</translation>
    </message>
    <message>
        <source>Output file &amp;name</source>
        <translation>출력 파일 이름(&amp;N)</translation>
    </message>
    <message>
        <source>To play the movies on the camera, copy them into the PMP folder at the top of its memory card.</source>
        <translation>카메라에서 재생하려면 메모리 카드 최상위의 PMP 폴더에 동영상을 복사하세요.</translation>
    </message>
    <message>
        <source>Settings</source>
        <translation>설정</translation>
    </message>
    <message>
        <source>&amp;Output format</source>
        <translation>출력 형식(&amp;O)</translation>
    </message>
    <message>
        <source>Frame &amp;size</source>
        <translation>프레임 크기(&amp;S)</translation>
    </message>
    <message>
        <source>Fra&amp;me rate</source>
        <translation>프레임 속도(&amp;M)</translation>
    </message>
    <message>
        <source>Screen s&amp;ize</source>
        <translation>화면 맞춤(&amp;I)</translation>
    </message>
    <message>
        <source>Split b&amp;y size</source>
        <translation>분할 크기(&amp;Y)</translation>
    </message>
    <message>
        <source>The remaining time is an estimate: it changes with the load on the computer.</source>
        <translation>남은 시간은 예상치이며 컴퓨터의 부하에 따라 달라집니다.</translation>
    </message>
    <message>
        <source>A&amp;dd...</source>
        <translation>추가(&amp;D)...</translation>
    </message>
    <message>
        <source>&amp;Add file...</source>
        <translation>파일 추가(&amp;A)...</translation>
    </message>
    <message>
        <source>&amp;Remove</source>
        <translation>제거(&amp;R)</translation>
    </message>
    <message>
        <source>&amp;Properties...</source>
        <translation>속성(&amp;P)...</translation>
    </message>
    <message>
        <source>P&amp;lay</source>
        <translation>재생(&amp;L)</translation>
    </message>
    <message>
        <source>&amp;Duration</source>
        <translation>재생 시간(&amp;D)</translation>
    </message>
    <message>
        <source>&amp;Frame size</source>
        <translation>프레임 크기(&amp;F)</translation>
    </message>
    <message>
        <source>File &amp;size</source>
        <translation>파일 크기(&amp;S)</translation>
    </message>
    <message>
        <source>&amp;Merolan Camera Home</source>
        <translation>Merolan 카메라 홈페이지(&amp;M)</translation>
    </message>
    <message>
        <source>Notice</source>
        <translation>알림</translation>
    </message>
    <message>
        <source>Tavrion Converter makes movies for the movie player (PMP mode) of Merolan cameras.</source>
        <translation>Tavrion Converter는 Merolan 카메라의 동영상 플레이어(PMP 모드)에서 재생할 동영상을 만듭니다.</translation>
    </message>
    <message>
        <source>It reads the common movie formats itself (AVI, MPEG, MP4, QuickTime, 3GP, WMV, Matroska, WebM and more), so nothing else needs to be installed.

To watch a converted movie on the camera, copy its .qvf file into the PMP folder at the top of the camera&apos;s memory card (make the folder if the card has none).</source>
        <translation>흔히 쓰이는 동영상 형식(AVI, MPEG, MP4, QuickTime, 3GP, WMV, Matroska, WebM 등)을 프로그램이 직접 읽으므로 따로 설치할 것이 없습니다.

변환한 동영상을 카메라에서 보려면 .qvf 파일을 카메라 메모리 카드 최상위의 PMP 폴더에 복사하세요(카드에 이 폴더가 없으면 새로 만드세요).</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>닫기</translation>
    </message>
    <message>
        <source>Don&apos;t show this message again</source>
        <translation>이 메시지를 다시 표시하지 않음</translation>
    </message>
    <message>
        <source>Move &amp;up</source>
        <translation>위로 이동(&amp;U)</translation>
    </message>
    <message>
        <source>Move do&amp;wn</source>
        <translation>아래로 이동(&amp;W)</translation>
    </message>
    <message>
        <source>&amp;Modify source...</source>
        <translation>원본 바꾸기(&amp;M)...</translation>
    </message>
    <message>
        <source>Add &amp;folder...</source>
        <translation>폴더 추가(&amp;F)...</translation>
    </message>
    <message>
        <source>Cannot open the batch file %1.
%2</source>
        <translation>배치 파일 %1을(를) 열 수 없습니다.
%2</translation>
    </message>
    <message>
        <source>Cannot save the batch file %1.
%2</source>
        <translation>배치 파일 %1을(를) 저장할 수 없습니다.
%2</translation>
    </message>
    <message>
        <source>The file ends unexpectedly (at byte %1).</source>
        <translation>파일이 예기치 않게 끝납니다(%1바이트 위치).</translation>
    </message>
    <message>
        <source>The file is not a valid batch file (unexpected data at byte %1).</source>
        <translation>올바른 배치 파일이 아닙니다(%1바이트 위치에 예상하지 못한 데이터).</translation>
    </message>
    <message>
        <source>The file holds an object of an unknown kind (at byte %1).</source>
        <translation>파일에 알 수 없는 종류의 개체가 있습니다(%1바이트 위치).</translation>
    </message>
    <message>
        <source>The file refers to an object that does not exist (at byte %1).</source>
        <translation>파일이 존재하지 않는 개체를 가리킵니다(%1바이트 위치).</translation>
    </message>
    <message>
        <source>Cannot create the file %1.
%2</source>
        <translation>파일 %1을(를) 만들 수 없습니다.
%2</translation>
    </message>
    <message>
        <source>Cannot read the file %1.
%2</source>
        <translation>파일 %1을(를) 읽을 수 없습니다.
%2</translation>
    </message>
    <message>
        <source>The last batch was not saved. Restore it?</source>
        <translation>지난 배치가 저장되지 않았습니다. 복원할까요?</translation>
    </message>
    <message>
        <source>The last batch could not be restored: its recovery copy is damaged and was kept as %1.
%2</source>
        <translation>지난 배치를 복원할 수 없습니다: 복구 사본이 손상되어 %1(으)로 보관했습니다.
%2</translation>
    </message>
    <message>
        <source>Some movies were interrupted. Continue them where they stopped?

Yes writes the rest of each into its next numbered part; No converts them again from the start.</source>
        <translation>중단된 동영상이 있습니다. 멈춘 곳부터 이어서 변환할까요?

예를 누르면 남은 부분을 다음 번호의 파일에 이어 쓰고, 아니요를 누르면 처음부터 다시 변환합니다.</translation>
    </message>
    <message>
        <source>The output folder %1 does not exist</source>
        <translation>출력 폴더 %1이(가) 없습니다</translation>
    </message>
    <message>
        <source>The output folder %1 is read-only</source>
        <translation>출력 폴더 %1은(는) 읽기 전용입니다</translation>
    </message>
    <message>
        <source>The output folder %1 is not a folder</source>
        <translation>출력 폴더 %1은(는) 폴더가 아닙니다</translation>
    </message>
    <message>
        <source>The output folder %1 takes no new file: %2</source>
        <translation>출력 폴더 %1에 새 파일을 만들 수 없습니다: %2</translation>
    </message>
    <message>
        <source>Tavrion Converter</source>
        <translation>Tavrion Converter</translation>
    </message>
    <message>
        <source>Untitled</source>
        <translation>제목 없음</translation>
    </message>
    <message>
        <source>&amp;File</source>
        <translation>파일(&amp;F)</translation>
    </message>
    <message>
        <source>&amp;New	Ctrl+N</source>
        <translation>새로 만들기(&amp;N)	Ctrl+N</translation>
    </message>
    <message>
        <source>&amp;Open...	Ctrl+O</source>
        <translation>열기(&amp;O)...	Ctrl+O</translation>
    </message>
    <message>
        <source>&amp;Save	Ctrl+S</source>
        <translation>저장(&amp;S)	Ctrl+S</translation>
    </message>
    <message>
        <source>Save &amp;As...</source>
        <translation>다른 이름으로 저장(&amp;A)...</translation>
    </message>
    <message>
        <source>Recent File</source>
        <translation>최근 파일</translation>
    </message>
    <message>
        <source>E&amp;xit</source>
        <translation>끝내기(&amp;X)</translation>
    </message>
    <message>
        <source>&amp;View</source>
        <translation>보기(&amp;V)</translation>
    </message>
    <message>
        <source>&amp;Toolbar</source>
        <translation>도구 모음(&amp;T)</translation>
    </message>
    <message>
        <source>&amp;Status Bar</source>
        <translation>상태 표시줄(&amp;S)</translation>
    </message>
    <message>
        <source>&amp;Help</source>
        <translation>도움말(&amp;H)</translation>
    </message>
    <message>
        <source>&amp;About Tavrion Converter...</source>
        <translation>Tavrion Converter 정보(&amp;A)...</translation>
    </message>
    <message>
        <source>Create a new batch
New</source>
        <translation>새 배치를 만듭니다
새로 만들기</translation>
    </message>
    <message>
        <source>Open an existing batch
Open</source>
        <translation>저장해 둔 배치를 엽니다
열기</translation>
    </message>
    <message>
        <source>Save the batch
Save</source>
        <translation>배치를 저장합니다
저장</translation>
    </message>
    <message>
        <source>Save the batch with a new name
Save As</source>
        <translation>배치를 새 이름으로 저장합니다
다른 이름으로 저장</translation>
    </message>
    <message>
        <source>Open this file
Open</source>
        <translation>이 파일을 엽니다
열기</translation>
    </message>
    <message>
        <source>Quit the application
Exit</source>
        <translation>프로그램을 끝냅니다
끝내기</translation>
    </message>
    <message>
        <source>Show or hide the toolbar
Toggle ToolBar</source>
        <translation>도구 모음을 표시하거나 숨깁니다
도구 모음 표시/숨기기</translation>
    </message>
    <message>
        <source>Show or hide the status bar
Toggle StatusBar</source>
        <translation>상태 표시줄을 표시하거나 숨깁니다
상태 표시줄 표시/숨기기</translation>
    </message>
    <message>
        <source>Display program information, version number and copyright
About</source>
        <translation>프로그램 정보, 버전 번호와 저작권을 표시합니다
정보</translation>
    </message>
    <message>
        <source>Visit the Merolan camera home page
Home page</source>
        <translation>Merolan 카메라 홈페이지를 방문합니다
홈페이지</translation>
    </message>
    <message>
        <source>About Tavrion Converter</source>
        <translation>Tavrion Converter 정보</translation>
    </message>
    <message>
        <source>Tavrion Converter Version %1</source>
        <translation>Tavrion Converter 버전 %1</translation>
    </message>
    <message>
        <source>Converts movies for the PMP mode of Merolan cameras.</source>
        <translation>Merolan 카메라의 PMP 모드에서 재생할 수 있도록 동영상을 변환합니다.</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>확인</translation>
    </message>
    <message>
        <source>All Files (*.*)</source>
        <translation>모든 파일 (*.*)</translation>
    </message>
    <message>
        <source>%1
File not found.</source>
        <translation>%1
파일을 찾을 수 없습니다.</translation>
    </message>
    <message>
        <source>%1: cannot open a display (%2). Start it from a desktop session, or set DISPLAY or WAYLAND_DISPLAY.</source>
        <translation>%1: 디스플레이를 열 수 없습니다(%2). 데스크톱 세션에서 실행하거나 DISPLAY 또는 WAYLAND_DISPLAY를 설정하세요.</translation>
    </message>
    <message>
        <source>Cannot open %1.</source>
        <translation>%1을(를) 열 수 없습니다.</translation>
    </message>
    <message>
        <source>%1
The file was removed from the recent file list.</source>
        <translation>%1
이 파일을 최근 파일 목록에서 제거했습니다.</translation>
    </message>
    <message>
        <source>The media platform could not be started.</source>
        <translation>미디어 플랫폼을 시작할 수 없습니다.</translation>
    </message>
    <message>
        <source>%1
This is neither a batch file (.tvc) nor a movie file.</source>
        <translation>%1
배치 파일(.tvc)도 동영상 파일도 아닙니다.</translation>
    </message>
    <message>
        <source>Conversion finished</source>
        <translation>변환이 끝났습니다</translation>
    </message>
    <message>
        <source>%1 converted, %2 failed, %3 interrupted</source>
        <translation>변환 %1개, 실패 %2개, 중단 %3개</translation>
    </message>
    <message>
        <source>Open output folder</source>
        <translation>출력 폴더 열기</translation>
    </message>
    <message>
        <source>Save changes to %1?</source>
        <translation>%1의 변경 내용을 저장할까요?</translation>
    </message>
    <message>
        <source>The batch %1 was left open by a program that did not close. Restore it as it was then?</source>
        <translation>정상적으로 종료되지 않은 프로그램에서 배치 %1이(가) 열려 있었습니다. 그때 상태로 복원할까요?</translation>
    </message>
    <message>
        <source>%1. Create it?</source>
        <translation>%1. 새로 만들까요?</translation>
    </message>
    <message>
        <source>Cannot create the output folder %1.
%2</source>
        <translation>출력 폴더 %1을(를) 만들 수 없습니다.
%2</translation>
    </message>
    <message>
        <source>The output file name is empty. Type the name of the converted movie.</source>
        <translation>출력 파일 이름이 비어 있습니다. 변환할 동영상의 이름을 입력하세요.</translation>
    </message>
    <message>
        <source>The output file name %1 contains a folder separator (/). Choose the folder under Output folder.</source>
        <translation>출력 파일 이름 %1에 폴더 구분 기호(/)가 들어 있습니다. 폴더는 출력 폴더에서 고르세요.</translation>
    </message>
    <message>
        <source>%1 is not a file name. Type the name of the converted movie.</source>
        <translation>%1은(는) 파일 이름이 아닙니다. 변환할 동영상의 이름을 입력하세요.</translation>
    </message>
    <message>
        <source>The output file name %1 is longer than the system allows (%2 bytes).</source>
        <translation>출력 파일 이름 %1이(가) 시스템이 허용하는 길이(%2바이트)보다 깁니다.</translation>
    </message>
    <message>
        <source>The file %1 is not there any more</source>
        <translation>파일 %1이(가) 더 이상 없습니다</translation>
    </message>
    <message>
        <source>These files were not added:
%1</source>
        <translation>다음 파일은 추가하지 않았습니다:
%1</translation>
    </message>
    <message>
        <source>%1: not a movie file</source>
        <translation>%1: 동영상 파일이 아닙니다</translation>
    </message>
    <message>
        <source>Output folder: %1</source>
        <translation>출력 폴더: %1</translation>
    </message>
    <message>
        <source>&amp;Contents	F1</source>
        <translation>목차(&amp;C)	F1</translation>
    </message>
    <message>
        <source>Open the manual of the program
Contents</source>
        <translation>프로그램 설명서를 엽니다
목차</translation>
    </message>
    <message>
        <source>%1 x %2 (stored as %3 x %4, shown turned)</source>
        <translation>%1 x %2 (%3 x %4로 저장되어 있으며 회전해서 표시)</translation>
    </message>
    <message>
        <source>Movies to convert; only checked movies take part in the conversion
Movies to convert</source>
        <translation>변환할 동영상입니다. 체크한 동영상만 변환합니다
변환할 동영상</translation>
    </message>
    <message>
        <source>Subtitle file whose captions are burned into the picture
Subtitle file</source>
        <translation>그림에 자막을 입힐 자막 파일
자막 파일</translation>
    </message>
    <message>
        <source>Choose a subtitle file for the selected movie
Choose subtitle file</source>
        <translation>선택한 동영상의 자막 파일을 고릅니다
자막 파일 선택</translation>
    </message>
    <message>
        <source>Folder the converted movie is written to
Output folder</source>
        <translation>변환한 동영상을 저장할 폴더
출력 폴더</translation>
    </message>
    <message>
        <source>Choose the folder for the converted movie
Choose output folder</source>
        <translation>변환한 동영상을 저장할 폴더를 고릅니다
출력 폴더 선택</translation>
    </message>
    <message>
        <source>Name of the converted movie, without extension
Output file name</source>
        <translation>변환한 동영상의 이름(확장자 제외)
출력 파일 이름</translation>
    </message>
    <message>
        <source>Preview of the selected movie, and the picture being converted during conversion
Preview</source>
        <translation>선택한 동영상의 미리 보기, 변환 중에는 변환하고 있는 그림
미리 보기</translation>
    </message>
    <message>
        <source>Position in the movie. Drag the markers below it to set start and end points
Position</source>
        <translation>동영상의 재생 위치입니다. 아래 표시를 끌어 시작 지점과 끝 지점을 정합니다
위치</translation>
    </message>
    <message>
        <source>Picture size of the converted movie
Frame size</source>
        <translation>변환한 동영상의 그림 크기
프레임 크기</translation>
    </message>
    <message>
        <source>Frames per second of the converted movie
Frame rate</source>
        <translation>변환한 동영상의 초당 프레임 수
프레임 속도</translation>
    </message>
    <message>
        <source>Split the converted movie into files of at most this size
Split by size</source>
        <translation>변환한 동영상을 이 크기 이하의 파일들로 나눕니다
분할 크기</translation>
    </message>
    <message>
        <source>Movie being converted
Current file</source>
        <translation>변환 중인 동영상
현재 파일</translation>
    </message>
    <message>
        <source>Progress of the movie being converted
Current file progress</source>
        <translation>변환 중인 동영상의 진행률
현재 파일 진행률</translation>
    </message>
    <message>
        <source>Progress of the whole conversion
Total progress</source>
        <translation>전체 변환의 진행률
전체 진행률</translation>
    </message>
    <message>
        <source>Number of the movie being converted
Total status</source>
        <translation>변환 중인 동영상의 순번
전체 상태</translation>
    </message>
    <message>
        <source>Break off the conversion; the unfinished output is kept as a playable movie
Break off the conversion; the unfinished output is kept as a playable movie</source>
        <translation>변환을 중단합니다. 완성되지 않은 출력도 재생할 수 있는 동영상으로 남습니다
변환을 중단합니다. 완성되지 않은 출력도 재생할 수 있는 동영상으로 남습니다</translation>
    </message>
    <message>
        <source>Convert the checked movies
Convert</source>
        <translation>체크한 동영상을 변환합니다
변환</translation>
    </message>
    <message>
        <source>Position and length of the previewed movie
Play status</source>
        <translation>미리 보는 동영상의 위치와 길이
재생 상태</translation>
    </message>
    <message>
        <source>Kind of movie to produce
Output format</source>
        <translation>만들 동영상의 종류
출력 형식</translation>
    </message>
    <message>
        <source>Burn the captions of a subtitle file into the picture
Use subtitles</source>
        <translation>자막 파일의 자막을 그림에 입힙니다
자막 사용</translation>
    </message>
    <message>
        <source>Pause the conversion
Pause</source>
        <translation>변환을 일시 정지합니다
일시 정지</translation>
    </message>
    <message>
        <source>Size of the captions
Subtitle size</source>
        <translation>자막의 크기
자막 크기</translation>
    </message>
    <message>
        <source>Language of the captions to burn in
Subtitle language</source>
        <translation>그림에 입힐 자막의 언어
자막 언어</translation>
    </message>
    <message>
        <source>Remove each movie from the list once it is converted
Remove after conversion</source>
        <translation>변환이 끝난 동영상을 목록에서 제거합니다
변환 후 제거</translation>
    </message>
    <message>
        <source>Estimated size of the converted movie
Estimated file size</source>
        <translation>변환한 동영상의 예상 크기
예상 파일 크기</translation>
    </message>
    <message>
        <source>Time spent on the movie being converted
Elapsed time</source>
        <translation>변환 중인 동영상에 걸린 시간
경과 시간</translation>
    </message>
    <message>
        <source>Time left for the movie being converted
Remaining time</source>
        <translation>변환 중인 동영상의 남은 시간
남은 시간</translation>
    </message>
    <message>
        <source>Time spent on the whole conversion
Total elapsed time</source>
        <translation>전체 변환에 걸린 시간
전체 경과 시간</translation>
    </message>
    <message>
        <source>Time left for the whole conversion
Total remaining time</source>
        <translation>전체 변환의 남은 시간
전체 남은 시간</translation>
    </message>
    <message>
        <source>Continue the paused conversion
Resume</source>
        <translation>일시 정지한 변환을 계속합니다
계속</translation>
    </message>
    <message>
        <source>How the picture fills the frame: fit with black bars, crop or stretch
Screen size</source>
        <translation>그림으로 프레임을 채우는 방법: 검은 띠를 두고 맞춤, 자르기, 늘이기
화면 맞춤</translation>
    </message>
    <message>
        <source>Add movie files to the list
Add</source>
        <translation>동영상 파일을 목록에 추가합니다
추가</translation>
    </message>
    <message>
        <source>Move the selected movies up the list
Move up</source>
        <translation>선택한 동영상을 목록에서 위로 옮깁니다
위로 이동</translation>
    </message>
    <message>
        <source>Move the selected movies down the list
Move down</source>
        <translation>선택한 동영상을 목록에서 아래로 옮깁니다
아래로 이동</translation>
    </message>
    <message>
        <source>Play the preview of the selected movies
Play</source>
        <translation>선택한 동영상을 미리 재생합니다
재생</translation>
    </message>
    <message>
        <source>Pause the preview
Pause</source>
        <translation>미리 보기를 일시 정지합니다
일시 정지</translation>
    </message>
    <message>
        <source>Stop the preview and go back to its start
Stop</source>
        <translation>미리 보기를 멈추고 처음으로 돌아갑니다
정지</translation>
    </message>
    <message>
        <source>Remove the selected movies from the list
Remove</source>
        <translation>선택한 동영상을 목록에서 제거합니다
제거</translation>
    </message>
    <message>
        <source>Choose another source file for the selected movie
Modify source</source>
        <translation>선택한 동영상의 원본 파일을 다른 파일로 바꿉니다
원본 바꾸기</translation>
    </message>
    <message>
        <source>Show the properties of the selected movie&apos;s file
Properties</source>
        <translation>선택한 동영상 파일의 속성을 표시합니다
속성</translation>
    </message>
    <message>
        <source>current %1 / total %2</source>
        <translation>현재 %1 / 전체 %2</translation>
    </message>
    <message>
        <source>Settin&amp;gs</source>
        <translation>설정(&amp;G)</translation>
    </message>
    <message>
        <source>&amp;Preferences...</source>
        <translation>환경 설정(&amp;P)...</translation>
    </message>
    <message>
        <source>Choose how many movies convert at once and where new movies are written
Preferences</source>
        <translation>한 번에 변환할 동영상 수와 새 동영상을 저장할 위치를 정합니다
환경 설정</translation>
    </message>
    <message>
        <source>Preferences</source>
        <translation>환경 설정</translation>
    </message>
    <message>
        <source>&amp;Simultaneous conversions:</source>
        <translation>동시 변환 수(&amp;S):</translation>
    </message>
    <message>
        <source>Up to %1, the processor cores of this computer. With more than one, a batch is done sooner, and the preview does not show the conversion.</source>
        <translation>최대 %1개(이 컴퓨터의 프로세서 코어 수)까지 정할 수 있습니다. 둘 이상이면 일괄 작업이 더 빨리 끝나며, 변환 중에는 미리 보기에 변환 화면이 나타나지 않습니다.</translation>
    </message>
    <message>
        <source>Output folder of new movies</source>
        <translation>새 동영상의 출력 폴더</translation>
    </message>
    <message>
        <source>&amp;Beside each movie</source>
        <translation>각 동영상과 같은 폴더(&amp;B)</translation>
    </message>
    <message>
        <source>In this &amp;folder:</source>
        <translation>다음 폴더(&amp;F):</translation>
    </message>
    <message>
        <source>Choose the folder for new movies, or choose Beside each movie.</source>
        <translation>새 동영상을 저장할 폴더를 고르거나 '각 동영상과 같은 폴더'를 고르십시오.</translation>
    </message>
    <message>
        <source>(differs)</source>
        <translation>(서로 다름)</translation>
    </message>
    <message>
        <source>Break the conversion? The unfinished output file is kept as a valid movie file.</source>
        <translation>변환을 중단하시겠습니까? 끝나지 않은 출력 파일은 재생할 수 있는 동영상 파일로 남습니다.</translation>
    </message>
    <message>
        <source>Add movies to convert, or drop them here.</source>
        <translation>변환할 동영상을 추가하거나 여기로 끌어다 놓으십시오.</translation>
    </message>
    <message>
        <source>No movie is checked: check the movies to convert.</source>
        <translation>선택된 동영상이 없습니다. 변환할 동영상에 체크 표시를 하십시오.</translation>
    </message>
    <message>
        <source>1 movie, about %2, ready to convert</source>
        <translation>동영상 1개, 약 %2, 변환 준비됨</translation>
    </message>
    <message>
        <source>%1 movies, about %2, ready to convert</source>
        <translation>동영상 %1개, 약 %2, 변환 준비됨</translation>
    </message>
    <message>
        <source>1 movie ready to convert</source>
        <translation>동영상 1개 변환 준비됨</translation>
    </message>
    <message>
        <source>%1 movies ready to convert</source>
        <translation>동영상 %1개 변환 준비됨</translation>
    </message>
</context>
</TS>
