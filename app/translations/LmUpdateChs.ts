<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN" sourcelanguage="en_US">
<context>
    <name>CMainFrame</name>
    <message>
        <source>Connect to the receiver
Connect</source>
        <translation>连接接收机
连接</translation>
    </message>
    <message>
        <source>Disconnect from the receiver
Disconnect</source>
        <translation>断开接收机
断开</translation>
    </message>
    <message>
        <source>Update
Update</source>
        <translation>升级
升级</translation>
    </message>
    <message>
        <source>English
English</source>
        <translation>英文
英文</translation>
    </message>
    <message>
        <source>Chinese
Chinese</source>
        <translation>中文
中文</translation>
    </message>
    <message>
        <source>Connect</source>
        <translation>连接</translation>
    </message>
    <message>
        <source>Disconnect</source>
        <translation>断开</translation>
    </message>
    <message>
        <source>Update</source>
        <translation>升级</translation>
    </message>
    <message>
        <source>Link setup</source>
        <translation>连接设置</translation>
    </message>
    <message>
        <source>&amp;Language</source>
        <translation>语言(&amp;L)</translation>
    </message>
    <message>
        <source>&amp;English</source>
        <translation>英语(&amp;E)</translation>
    </message>
    <message>
        <source>&amp;Chinese</source>
        <translation>中文(&amp;C)</translation>
    </message>
    <message>
        <source>&amp;Help</source>
        <translation>帮助(&amp;H)</translation>
    </message>
    <message>
        <source>&amp;About QuorvexUpdate...</source>
        <translation>关于 QuorvexUpdate(&amp;A)...</translation>
    </message>
    <message>
        <source>About Velquist</source>
        <translation>关于 Velquist</translation>
    </message>
    <message>
        <source>English</source>
        <translation>英语</translation>
    </message>
    <message>
        <source>Chinese</source>
        <translation>中文</translation>
    </message>
    <message>
        <source>About this application</source>
        <translation>关于本程序</translation>
    </message>
    <message>
        <source>Help</source>
        <translation>帮助</translation>
    </message>
    <message>
        <source>Connect to the receiver</source>
        <translation>连接接收机</translation>
    </message>
    <message>
        <source>Disconnect from the receiver</source>
        <translation>断开与接收机的连接</translation>
    </message>
    <message>
        <source>Receiver information</source>
        <translation>接收机信息</translation>
    </message>
    <message>
        <source>Show the connected receiver's information</source>
        <translation>显示所连接接收机的信息</translation>
    </message>
    <message>
        <source>QuorvexUpdate</source>
        <translation>QuorvexUpdate</translation>
    </message>
    <message>
        <source>Update For Z4 OEM Board</source>
        <translation>Z4 OEM 板卡升级</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>错误</translation>
    </message>
    <message>
        <source>Application Error</source>
        <translation>应用程序错误</translation>
    </message>
    <message>
        <source>WARNING:  %1 Failed with the following error: 
%2
Port: %3
</source>
        <translation>警告：%1 失败，错误如下：
%2
端口：%3
</translation>
    </message>
    <message>
        <source>Toolbar</source>
        <translation>工具栏</translation>
    </message>
    <message>
        <source>Ready</source>
        <translation>就绪</translation>
    </message>
    <message>
        <source>The firmware package in %1 is no longer valid; choose one in App &gt; Firmware Package.</source>
        <translation>%1 中的固件包已不可用，请在“应用 &gt; 固件包”中重新选择。</translation>
    </message>
    <message>
        <source>The built-in image is a test image for the simulated receiver, not firmware for a real receiver. Send it?</source>
        <translation>内置镜像是供模拟接收机使用的测试镜像，不是真实接收机的固件。仍要发送吗？</translation>
    </message>
    <message>
        <source>Firmware Package</source>
        <translation>固件包</translation>
    </message>
    <message>
        <source>The package in %1 cannot be used:

%2</source>
        <translation>%1 中的固件包无法使用：

%2</translation>
    </message>
    <message>
        <source>Firmware: none chosen</source>
        <translation>固件：未选择</translation>
    </message>
    <message>
        <source>Firmware: built-in test image</source>
        <translation>固件：内置测试镜像</translation>
    </message>
    <message>
        <source>Firmware: %1</source>
        <translation>固件：%1</translation>
    </message>
    <message>
        <source>Firmware Package...</source>
        <translation>固件包...</translation>
    </message>
    <message>
        <source>Choose the firmware package to send
Firmware Package</source>
        <translation>选择要发送的固件包
固件包</translation>
    </message>
    <message>
        <source>Open Log Folder</source>
        <translation>打开日志文件夹</translation>
    </message>
    <message>
        <source>Open the folder of the update logs
Open Log Folder</source>
        <translation>打开升级日志所在的文件夹
打开日志文件夹</translation>
    </message>
    <message numerus="yes">
        <source>Using %1 (%2): %n image(s).</source>
        <translation>
            <numerusform>使用 %1（%2）：%n 个镜像。</numerusform>
        </translation>
    </message>
    <message>
        <source>Station...</source>
        <translation>多台升级...</translation>
    </message>
    <message>
        <source>Update several receivers side by side
Station</source>
        <translation>同时升级多台接收机
多台升级</translation>
    </message>
    <message>
        <source>A receiver is being updated. Quitting now interrupts its update: a receiver whose firmware is cut off in the middle may not start again until it is updated from its loader (Manual Update in Link Setup). Quit anyway?</source>
        <translation>正在升级接收机。现在退出会中断升级：固件写到一半被中断的接收机可能无法再启动，只能从其引导程序重新升级（连接设置中的“手动升级”）。仍要退出吗？</translation>
    </message>
    <message>
        <source>The receiver on %1 is being updated. Disconnecting now interrupts the update: a receiver whose firmware is cut off in the middle may not start again until it is updated from its loader (Manual Update in Link Setup). Disconnect anyway?</source>
        <translation>%1 上的接收机正在升级。现在断开会中断升级：固件写到一半被中断的接收机可能无法再启动，只能从其引导程序重新升级（连接设置中的“手动升级”）。仍要断开吗？</translation>
    </message>
    <message>
        <source>This receiver has just been updated. Update it again?</source>
        <translation>这台接收机刚刚升级完成。要再升级一次吗？</translation>
    </message>
    <message>
        <source>&amp;App</source>
        <translation>应用(&amp;A)</translation>
    </message>
    <message>
        <source>No serial port was found. Plug in the adapter (Link setup lists it as soon as it appears), or choose USB in App &gt; Link setup.</source>
        <translation>没有找到串口。请插上串口适配器（插上后连接设置中会立即列出），或在“应用 &gt; 连接设置”中选择 USB。</translation>
    </message>
    <message>
        <source>Choose a port in App &gt; Link setup (it lists the ports present now), then Connect.</source>
        <translation>请在“应用 &gt; 连接设置”中选择端口（其中列出当前存在的端口），然后连接。</translation>
    </message>
    <message>
        <source>No file manager answered. The update logs are in:

%1</source>
        <translation>没有文件管理器响应。升级日志位于：

%1</translation>
    </message>
    <message>
        <source>The receiver already runs the firmware of this package (%1). Update it anyway?</source>
        <translation>接收机已在运行此固件包的固件（%1）。仍要升级吗？</translation>
    </message>
    <message>
        <source>Firmware: %1 (%2)</source>
        <translation>固件：%1（%2）</translation>
    </message>
    <message>
        <source>History...</source>
        <translation>历史记录...</translation>
    </message>
    <message>
        <source>Every update recorded, by receiver
History</source>
        <translation>按接收机查看记录的每次升级
历史记录</translation>
    </message>
</context>
<context>
    <name>CUpdateView</name>
    <message>
        <source>Message:</source>
        <translation>消息：</translation>
    </message>
    <message>
        <source>Do not unplug or power off the receiver</source>
        <translation>请勿拔出接收机或断开其电源</translation>
    </message>
    <message>
        <source>The receiver is writing its firmware (%1). Do not unplug or power off the receiver</source>
        <translation>接收机正在写入固件（%1）。请勿拔出接收机或断开其电源</translation>
    </message>
    <message>
        <source>The receiver on %1 has not answered the loader poll for %2 s. Check the cable and the receiver's power; a receiver left in its loader may need Manual Update in Link Setup. Update tries again.</source>
        <translation>%1 上的接收机已有 %2 秒未应答引导程序查询。请检查电缆和接收机电源；停留在引导程序中的接收机可能需要在连接设置中选择“手动升级”。点击升级可重试。</translation>
    </message>
    <message>
        <source>The receiver on %1 has sent nothing for %2 s in the middle of the transfer. Check the cable and the receiver's power, then Update to start again.</source>
        <translation>%1 上的接收机在传输中途已有 %2 秒没有发送任何数据。请检查电缆和接收机电源，然后点击升级重新开始。</translation>
    </message>
    <message>
        <source>The receiver on %1 has sent nothing for %2 s. Check the cable, the receiver's power and the port in Link Setup.</source>
        <translation>%1 上的接收机已有 %2 秒没有发送任何数据。请检查电缆、接收机电源以及连接设置中的端口。</translation>
    </message>
    <message>
        <source>Completed in %1. The receiver restarts with its new firmware.</source>
        <translation>升级完成，用时 %1。接收机将以新固件重新启动。</translation>
    </message>
    <message>
        <source>Boot loader sent in %1. Restart the receiver, then Update again to send the CPU firmware.</source>
        <translation>引导程序已发送，用时 %1。请重启接收机，然后再次升级以发送 CPU 固件。</translation>
    </message>
    <message>
        <source>Nothing was sent: %1 Choose the firmware package for this receiver in App &gt; Firmware Package.</source>
        <translation>未发送任何数据：%1 请在“应用 &gt; 固件包”中为这台接收机选择固件包。</translation>
    </message>
    <message>
        <source>Not confirmed after %1: %2</source>
        <translation>%1 后仍未确认：%2</translation>
    </message>
    <message>
        <source>Failed after %1: %2 Check the cable and the receiver's power, then Connect and Update again; a receiver that no longer starts needs Manual Update in Link Setup.</source>
        <translation>%1 后失败：%2 请检查电缆和接收机电源，然后重新连接并升级；无法再启动的接收机需要在连接设置中选择“手动升级”。</translation>
    </message>
    <message>
        <source>Receiver firmware: %1</source>
        <translation>接收机固件：%1</translation>
    </message>
</context>
<context>
    <name>CLinkSetupDlg</name>
    <message>
        <source>Link Setup</source>
        <translation>连接设置</translation>
    </message>
    <message>
        <source>Serial Port</source>
        <translation>串口</translation>
    </message>
    <message>
        <source>Change Baudrate to 115200 </source>
        <translation>波特率改为 115200 </translation>
    </message>
    <message>
        <source>Manual Update (Default Baudrate 9600)</source>
        <translation>手动升级（默认波特率 9600）</translation>
    </message>
    <message>
        <source>&amp;OK</source>
        <translation>确定(&amp;O)</translation>
    </message>
    <message>
        <source>&amp;Cancel</source>
        <translation>取消(&amp;C)</translation>
    </message>
</context>
<context>
    <name>CAboutDlg</name>
    <message>
        <source>About QuorvexUpdate</source>
        <translation>关于 QuorvexUpdate</translation>
    </message>
    <message>
        <source>EXE version:%1, built %2</source>
        <translation>程序版本：%1，构建于 %2</translation>
    </message>
    <message>
        <source>library version:2.23J</source>
        <translation>库版本：2.23J</translation>
    </message>
</context>
<context>
    <name>UpdateEngine</name>
    <message>
        <source>Update boot?</source>
        <translation>是否升级引导程序?</translation>
    </message>
    <message>
        <source>Cannot open COM%1 (%2): permission denied. Your user needs access to the device, e.g. membership of the dialout group.</source>
        <translation>无法打开 COM%1（%2）：权限不足。您的用户需要该设备的访问权限，例如加入 dialout 组。</translation>
    </message>
    <message>
        <source>Connected receiver information:</source>
        <translation>已连接接收机信息：</translation>
    </message>
    <message>
        <source>  SN: %1</source>
        <translation>  序列号：%1</translation>
    </message>
    <message>
        <source>  sw version: %1 - %2</source>
        <translation>  软件版本：%1 - %2</translation>
    </message>
    <message>
        <source>  boot version: %1</source>
        <translation>  引导版本：%1</translation>
    </message>
    <message>
        <source>Your serial port is COM%1</source>
        <translation>您的串口为 COM%1</translation>
    </message>
    <message>
        <source>Please manually restart the receiver now.</source>
        <translation>请立即手动重启接收机。</translation>
    </message>
    <message>
        <source>Begin update, restarting the receiver...</source>
        <translation>开始升级，正在重启接收机...</translation>
    </message>
    <message>
        <source>Your Communication Port is USB</source>
        <translation>您的通信端口为 USB</translation>
    </message>
    <message>
        <source>Begin update, rebooting the receiver...</source>
        <translation>开始升级，正在重新启动接收机...</translation>
    </message>
    <message>
        <source>To Update,</source>
        <translation>若要升级，</translation>
    </message>
    <message>
        <source>Please reboot the receiver manually...</source>
        <translation>请手动重新启动接收机...</translation>
    </message>
    <message>
        <source>Try to update now...</source>
        <translation>正在尝试升级...</translation>
    </message>
    <message>
        <source>Copy receiver serial number...</source>
        <translation>正在复制接收机序列号...</translation>
    </message>
    <message>
        <source>Prepare updating for %1...</source>
        <translation>正在准备升级 %1...</translation>
    </message>
    <message>
        <source>Begin update %1...</source>
        <translation>开始升级 %1...</translation>
    </message>
    <message>
        <source>P/N: %1</source>
        <translation>型号：%1</translation>
    </message>
    <message>
        <source>Address: %1</source>
        <translation>地址：%1</translation>
    </message>
    <message>
        <source>Updating Firmware! please wait.............</source>
        <translation>正在升级固件！请稍候.............</translation>
    </message>
    <message>
        <source>Completed!</source>
        <translation>完成！</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>错误</translation>
    </message>
    <message>
        <source>NO CPU firmware for this model: %1</source>
        <translation>此型号没有 CPU 固件：%1</translation>
    </message>
    <message>
        <source>NO BOOT firmware for this model: %1</source>
        <translation>此型号没有引导固件：%1</translation>
    </message>
    <message>
        <source>COM%1 (%2) is the system console and was not opened. To use it, give its device path by name.</source>
        <translation>COM%1（%2）是系统控制台，未打开。如需使用，请直接指定其设备路径。</translation>
    </message>
    <message>
        <source>Firmware package: built-in test image</source>
        <translation>固件包：内置测试镜像</translation>
    </message>
    <message>
        <source>Firmware package: %1 (%2)</source>
        <translation>固件包：%1（%2）</translation>
    </message>
    <message>
        <source>The receiver closed the line (%1).</source>
        <translation>接收机已关闭线路（%1）。</translation>
    </message>
    <message>
        <source>No FPGA image in the package for %1: only the CPU image is sent.</source>
        <translation>固件包中没有 %1 的 FPGA 镜像：只发送 CPU 镜像。</translation>
    </message>
    <message>
        <source>Disconnected while the update was under way.</source>
        <translation>升级进行中被断开。</translation>
    </message>
    <message>
        <source>The receiver on %1 has not reported the end of its flash write after %2. It may still be writing: do not power it off or unplug it, and check it once it has restarted.</source>
        <translation>%2 后 %1 上的接收机仍未报告固件写入结束。它可能仍在写入：请勿断开电源或拔出接收机，待其重启后再检查。</translation>
    </message>
    <message>
        <source>Verified: CPU %1</source>
        <translation>已核对：CPU %1</translation>
    </message>
    <message>
        <source>, FPGA %1</source>
        <translation>，FPGA %1</translation>
    </message>
    <message>
        <source>up to date</source>
        <translation>已是最新</translation>
    </message>
    <message>
        <source>Warning: the receiver came back with CPU %1, FPGA %2, not the package's %3. Check the package and the receiver.</source>
        <translation>警告：接收机重启后为 CPU %1、FPGA %2，而不是固件包的 %3。请检查固件包和接收机。</translation>
    </message>
    <message>
        <source>Warning: the receiver did not report its versions within %1 s after the update. Check that it has restarted and runs the new firmware.</source>
        <translation>警告：升级后 %1 秒内接收机未报告其版本。请确认它已重启并运行新固件。</translation>
    </message>
</context>
<context>
    <name>CFirmwarePackageDlg</name>
    <message>
        <source>Firmware Package</source>
        <translation>固件包</translation>
    </message>
    <message>
        <source>Send the images of:</source>
        <translation>发送以下来源的镜像：</translation>
    </message>
    <message>
        <source>&amp;Folder...</source>
        <translation>文件夹(&amp;F)...</translation>
    </message>
    <message>
        <source>Built-in test image: for the simulated receiver only, never a real one</source>
        <translation>内置测试镜像：仅供模拟接收机使用，切勿用于真实接收机</translation>
    </message>
</context>
<context>
    <name>CRunLog</name>
    <message>
        <source>The run log %1 cannot be written (%2); the update goes on without it.</source>
        <translation>无法写入运行日志 %1（%2）；升级将继续进行，不记录日志。</translation>
    </message>
</context>
<context>
    <name>CStationRow</name>
    <message>
        <source>Connecting</source>
        <translation>正在连接</translation>
    </message>
    <message>
        <source>Disconnected</source>
        <translation>已断开</translation>
    </message>
    <message>
        <source>Identifying</source>
        <translation>正在识别</translation>
    </message>
    <message>
        <source>Restarting</source>
        <translation>正在重启</translation>
    </message>
    <message>
        <source>Sending</source>
        <translation>正在发送</translation>
    </message>
    <message>
        <source>Done</source>
        <translation>完成</translation>
    </message>
    <message>
        <source>Failed</source>
        <translation>失败</translation>
    </message>
    <message>
        <source>Starting</source>
        <translation>正在启动</translation>
    </message>
    <message>
        <source>Ready</source>
        <translation>就绪</translation>
    </message>
    <message>
        <source>Writing firmware %1</source>
        <translation>正在写入固件 %1</translation>
    </message>
    <message>
        <source>Writing firmware</source>
        <translation>正在写入固件</translation>
    </message>
    <message>
        <source>%1 - %2, boot %3</source>
        <translation>%1 - %2，引导程序 %3</translation>
    </message>
    <message>
        <source>Completed!</source>
        <translation>完成！</translation>
    </message>
    <message>
        <source>Boot loader sent: restart the receiver, then Update again to send the CPU firmware.</source>
        <translation>引导程序已发送：请重启接收机，然后再次升级以发送 CPU 固件。</translation>
    </message>
    <message>
        <source>The line to the receiver was lost</source>
        <translation>与接收机的线路已断开</translation>
    </message>
    <message>
        <source>The receiver sent nothing for %1 s</source>
        <translation>接收机 %1 秒内没有任何回应</translation>
    </message>
    <message>
        <source>%1: %2</source>
        <translation>%1：%2</translation>
    </message>
    <message>
        <source>Verifying</source>
        <translation>正在核对版本</translation>
    </message>
    <message>
        <source>Up to date</source>
        <translation>已是最新</translation>
    </message>
    <message>
        <source>The history cannot be read: %1</source>
        <translation>无法读取历史记录：%1</translation>
    </message>
    <message>
        <source>No update of %1 recorded</source>
        <translation>没有 %1 的升级记录</translation>
    </message>
</context>
<context>
    <name>CStationWindow</name>
    <message>
        <source>Station</source>
        <translation>多台升级</translation>
    </message>
    <message>
        <source>Serial port or device:</source>
        <translation>串口或设备：</translation>
    </message>
    <message>
        <source>COMn or /dev/...</source>
        <translation>COMn 或 /dev/...</translation>
    </message>
    <message>
        <source>Add</source>
        <translation>添加</translation>
    </message>
    <message>
        <source>Update All</source>
        <translation>全部升级</translation>
    </message>
    <message>
        <source>Port</source>
        <translation>端口</translation>
    </message>
    <message>
        <source>Serial number</source>
        <translation>序列号</translation>
    </message>
    <message>
        <source>Versions</source>
        <translation>版本</translation>
    </message>
    <message>
        <source>State</source>
        <translation>状态</translation>
    </message>
    <message>
        <source>Progress</source>
        <translation>进度</translation>
    </message>
    <message>
        <source>Result</source>
        <translation>结果</translation>
    </message>
    <message>
        <source>Update boot?</source>
        <translation>升级引导程序?</translation>
    </message>
    <message>
        <source>%1 is neither COMn nor a device path.</source>
        <translation>%1 既不是 COMn 也不是设备路径。</translation>
    </message>
    <message>
        <source>%1 has a row already.</source>
        <translation>%1 已有一行。</translation>
    </message>
    <message>
        <source>The answer this row gives when its receiver offers a boot update</source>
        <translation>接收机提供引导程序升级时本行给出的回答</translation>
    </message>
    <message>
        <source>Remove</source>
        <translation>移除</translation>
    </message>
    <message>
        <source>Disconnect</source>
        <translation>断开</translation>
    </message>
    <message>
        <source>Connect</source>
        <translation>连接</translation>
    </message>
    <message>
        <source>Firmware: built-in test image</source>
        <translation>固件：内置测试镜像</translation>
    </message>
    <message>
        <source>Firmware: %1</source>
        <translation>固件：%1</translation>
    </message>
    <message>
        <source>Disconnect anyway?</source>
        <translation>仍要断开吗？</translation>
    </message>
    <message>
        <source>Remove the row anyway?</source>
        <translation>仍要删除这一行吗？</translation>
    </message>
    <message>
        <source>The receiver on %1 is being updated. Stopping now interrupts the update: a receiver whose firmware is cut off in the middle may not start again until it is updated from its loader. %2</source>
        <translation>%1 上的接收机正在升级。现在停止会中断升级：固件写到一半被中断的接收机可能无法再启动，只能从其引导程序重新升级。%2</translation>
    </message>
    <message>
        <source>%1 done, %2 failed, %3 running, %4 waiting</source>
        <translation>%1 台完成，%2 台失败，%3 台进行中，%4 台等待</translation>
    </message>
    <message>
        <source>%1.
The system reported: %2</source>
        <translation>%1。
系统报告：%2</translation>
    </message>
    <message>
        <source>Include receivers that are up to date</source>
        <translation>包括已是最新的接收机</translation>
    </message>
    <message>
        <source>Firmware: none chosen; choose one in the main window (App &gt; Firmware Package...)</source>
        <translation>固件：未选择；请在主窗口中选择（“应用 &gt; 固件包...”）</translation>
    </message>
</context>
<context>
    <name>ProgressFigures</name>
    <message>
        <source>Progress: </source>
        <translation>进度：</translation>
    </message>
    <message>
        <source>bytes</source>
        <translation>字节</translation>
    </message>
    <message>
        <source>%1 kB/s</source>
        <translation>%1 kB/s</translation>
    </message>
    <message>
        <source>%1 left</source>
        <translation>剩余 %1</translation>
    </message>
</context>
<context>
    <name>PortNames</name>
    <message>
        <source>Cannot open COM%1: it names no device. </source>
        <translation>无法打开 COM%1：它没有对应的设备。</translation>
    </message>
    <message>
        <source>The settings file, where group Ports would map it, was not read: %1. Give a device path.</source>
        <translation>未能读取设置文件（Ports 组在其中映射端口）：%1。请给出设备路径。</translation>
    </message>
    <message>
        <source>line %1, %2</source>
        <translation>第 %1 行，%2</translation>
    </message>
    <message>
        <source>The settings file %1 is damaged: in group Ports, %2 could not be read. Repair it, or give a device path.</source>
        <translation>设置文件 %1 已损坏：Ports 组中的 %2 无法读取。请修复该文件，或给出设备路径。</translation>
    </message>
    <message>
        <source>Give a device path, or map COM%1 in the settings file, group Ports.</source>
        <translation>请给出设备路径，或在设置文件的 Ports 组中映射 COM%1。</translation>
    </message>
    <message>
        <source>Cannot open COM%1 (%2): </source>
        <translation>无法打开 COM%1（%2）：</translation>
    </message>
    <message>
        <source>not a serial device</source>
        <translation>不是串口设备</translation>
    </message>
    <message>
        <source>. Your user needs access to the device, e.g. membership of the dialout group.</source>
        <translation>。您的用户需要该设备的访问权限，例如加入 dialout 组。</translation>
    </message>
    <message>
        <source>in use by another program, or not a serial port</source>
        <translation>正被其他程序占用，或不是串口</translation>
    </message>
</context>
<context>
    <name>CHistoryWindow</name>
    <message>
        <source>History</source>
        <translation>历史记录</translation>
    </message>
    <message>
        <source>Serial number:</source>
        <translation>序列号：</translation>
    </message>
    <message>
        <source>Part number:</source>
        <translation>料号：</translation>
    </message>
    <message>
        <source>Outcome:</source>
        <translation>结果：</translation>
    </message>
    <message>
        <source>Any</source>
        <translation>全部</translation>
    </message>
    <message>
        <source>Refresh</source>
        <translation>刷新</translation>
    </message>
    <message>
        <source>Export CSV...</source>
        <translation>导出 CSV...</translation>
    </message>
    <message>
        <source>Time</source>
        <translation>时间</translation>
    </message>
    <message>
        <source>Serial number</source>
        <translation>序列号</translation>
    </message>
    <message>
        <source>Part number</source>
        <translation>料号</translation>
    </message>
    <message>
        <source>Before</source>
        <translation>升级前</translation>
    </message>
    <message>
        <source>After</source>
        <translation>升级后</translation>
    </message>
    <message>
        <source>Outcome</source>
        <translation>结果</translation>
    </message>
    <message>
        <source>Took</source>
        <translation>耗时</translation>
    </message>
    <message>
        <source>Package</source>
        <translation>固件包</translation>
    </message>
    <message>
        <source>Station</source>
        <translation>工位</translation>
    </message>
    <message>
        <source>Port</source>
        <translation>端口</translation>
    </message>
    <message>
        <source>Detail</source>
        <translation>详情</translation>
    </message>
    <message>
        <source>Reading %1...</source>
        <translation>正在读取 %1...</translation>
    </message>
    <message>
        <source>The history %1 cannot be read: %2</source>
        <translation>无法读取历史记录 %1：%2</translation>
    </message>
    <message>
        <source>The newest %1 runs that match, from %2.</source>
        <translation>%2 中符合条件的最新 %1 次升级。</translation>
    </message>
    <message numerus="yes">
        <source>%n run(s) from %1.</source>
        <translation>
            <numerusform>%1 中的 %n 次升级。</numerusform>
        </translation>
    </message>
    <message>
        <source>Export CSV</source>
        <translation>导出 CSV</translation>
    </message>
    <message>
        <source>CSV files (*.csv)</source>
        <translation>CSV 文件 (*.csv)</translation>
    </message>
    <message numerus="yes">
        <source>%n run(s) written to %1.</source>
        <translation>
            <numerusform>已将 %n 次升级写入 %1。</numerusform>
        </translation>
    </message>
    <message>
        <source>%1 cannot be written: %2</source>
        <translation>无法写入 %1：%2</translation>
    </message>
</context>
<context>
    <name>HistoryRun</name>
    <message>
        <source>Last recorded update: %1, %2</source>
        <translation>最近一次记录的升级：%1，%2</translation>
    </message>
    <message>
        <source>, from %1</source>
        <translation>，升级前 %1</translation>
    </message>
</context>
<context>
    <name>CHistory</name>
    <message>
        <source>The history database %1 answers again; the runs kept meanwhile are written.</source>
        <translation>历史数据库 %1 已恢复响应；期间保留的升级记录已写入。</translation>
    </message>
    <message>
        <source>The history database %1 cannot be written (%2); the update goes on, and its runs are kept until the database answers.</source>
        <translation>无法写入历史数据库 %1（%2）；升级将继续进行，升级记录会保留到数据库恢复响应为止。</translation>
    </message>
    <message>
        <source>They cannot be kept in %1 either: they are lost when the program ends.</source>
        <translation>也无法保留在 %1 中：程序结束时这些记录将丢失。</translation>
    </message>
</context>
<context>
    <name>CHistoryRecorder</name>
    <message>
        <source>The program was closed.</source>
        <translation>程序已关闭。</translation>
    </message>
</context>
</TS>
