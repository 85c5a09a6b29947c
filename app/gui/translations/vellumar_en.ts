<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="zh_CN">
<context>
    <name>vellumar</name>
    <message>
        <source>待处理图像文件</source>
        <translation>Image files to convert</translation>
    </message>
    <message>
        <source>处理结果</source>
        <translation>Result</translation>
    </message>
    <message>
        <source>支持的格式：</source>
        <translation>Supported formats: </translation>
    </message>
    <message>
        <source>打开欲处理的图像文件（支持多文件处理）</source>
        <translation>Open the image files to convert (several at once)</translation>
    </message>
    <message>
        <source>开始转换</source>
        <translation>Start</translation>
    </message>
    <message>
        <source>停止转换</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>欲转换到的格式：</source>
        <translation>Convert to:</translation>
    </message>
    <message>
        <source>保存目录：</source>
        <translation>Save folder:</translation>
    </message>
    <message>
        <source>自定义前缀名(防重复)：</source>
        <translation>Name prefix (against clashes):</translation>
    </message>
    <message>
        <source>程序</source>
        <translation>Program</translation>
    </message>
    <message>
        <source>退出</source>
        <translation>Exit</translation>
    </message>
    <message>
        <source>选项</source>
        <translation>Options</translation>
    </message>
    <message>
        <source>遇到失败时继续转换</source>
        <translation>Keep going after a failure</translation>
    </message>
    <message>
        <source>保留原文件名</source>
        <translation>Keep the source file names</translation>
    </message>
    <message>
        <source>保持图像的存储方向</source>
        <translation>Keep pictures as stored (no EXIF turn)</translation>
    </message>
    <message>
        <source>去除颜色配置和EXIF信息</source>
        <translation>Strip colour profiles and EXIF</translation>
    </message>
    <message>
        <source>缩小尺寸</source>
        <translation>Shrink</translation>
    </message>
    <message>
        <source>原始尺寸</source>
        <translation>Original size</translation>
    </message>
    <message>
        <source>缩小到 50%</source>
        <translation>To 50%</translation>
    </message>
    <message>
        <source>缩小到 25%</source>
        <translation>To 25%</translation>
    </message>
    <message>
        <source>不超过 1920×1920</source>
        <translation>At most 1920×1920</translation>
    </message>
    <message>
        <source>不超过 1280×1280</source>
        <translation>At most 1280×1280</translation>
    </message>
    <message>
        <source>不超过 800×800</source>
        <translation>At most 800×800</translation>
    </message>
    <message>
        <source>位深</source>
        <translation>Bit depth</translation>
    </message>
    <message>
        <source>保持原位深</source>
        <translation>Keep the source's depth</translation>
    </message>
    <message>
        <source>每通道 8 位</source>
        <translation>8 bits per channel</translation>
    </message>
    <message>
        <source>每通道 16 位</source>
        <translation>16 bits per channel</translation>
    </message>
    <message>
        <source>调色板</source>
        <translation>Palette</translation>
    </message>
    <message>
        <source>标准调色板</source>
        <translation>Standard palette</translation>
    </message>
    <message>
        <source>自适应调色板</source>
        <translation>Adaptive palette</translation>
    </message>
    <message>
        <source>抖动</source>
        <translation>Dither</translation>
    </message>
    <message>
        <source>不抖动</source>
        <translation>No dithering</translation>
    </message>
    <message>
        <source>误差扩散 (Floyd-Steinberg)</source>
        <translation>Error diffusion (Floyd-Steinberg)</translation>
    </message>
    <message>
        <source>关于</source>
        <translation>About</translation>
    </message>
    <message>
        <source>关于作者</source>
        <translation>About the author</translation>
    </message>
    <message>
        <source>软件完全免费使用！<byte value="xd"/>
作者：Vellumar 开发者<byte value="xd"/>
问题与建议请提交到项目的问题列表</source>
        <translation>This program is free to use!<byte value="xd"/>
Author: the Vellumar developers<byte value="xd"/>
Please send problems and ideas to the project&apos;s issue list</translation>
    </message>
    <message>
        <source>选择要转换的文件</source>
        <translation>Select the files to convert</translation>
    </message>
    <message>
        <source>图形格式(*.*) (*)</source>
        <translation>Image files (*.*) (*)</translation>
    </message>
    <message>
        <source>添加文件…</source>
        <translation>Add files…</translation>
    </message>
    <message>
        <source>移除所选行</source>
        <translation>Remove selected rows</translation>
    </message>
    <message>
        <source>清空列表</source>
        <translation>Clear the list</translation>
    </message>
    <message>
        <source>选择保存目录…</source>
        <translation>Choose the save folder…</translation>
    </message>
    <message>
        <source>默认</source>
        <translation>Default</translation>
    </message>
    <message>
        <source>图像质量（1–100）；默认：各格式自己的质量</source>
        <translation>Quality (1–100); Default: each format&apos;s own</translation>
    </message>
    <message>
        <source>%1，剩余约 %2</source>
        <translation>%1, about %2 left</translation>
    </message>
    <message>
        <source>转换结果</source>
        <translation>Conversion result</translation>
    </message>
    <message>
        <source>已转换：%1
失败：%2
跳过：%3
用时：%4</source>
        <translation>Converted: %1
Failed: %2
Skipped: %3
Time: %4</translation>
    </message>
    <message>
        <source>打开保存目录</source>
        <translation>Open the save folder</translation>
    </message>
    <message>
        <source>%1
%2 × %3 像素
%4 位/像素
%5 帧</source>
        <translation>%1
%2 × %3 pixels
%4 bits per pixel
%5 frame(s)</translation>
    </message>
    <message>
        <source>待处理</source>
        <translation>Pending</translation>
    </message>
    <message>
        <source>转换中</source>
        <translation>Converting</translation>
    </message>
    <message>
        <source>处理完成</source>
        <translation>Done</translation>
    </message>
    <message>
        <source>处理失败</source>
        <translation>Failed</translation>
    </message>
    <message>
        <source>警告</source>
        <translation>Warning</translation>
    </message>
    <message>
        <source>信息</source>
        <translation>Information</translation>
    </message>
    <message>
        <source>请选择欲转出的图像格式！</source>
        <translation>Please choose the format to convert to!</translation>
    </message>
    <message>
        <source>自定义前缀名不能含有“/”！</source>
        <translation>The name prefix cannot contain “/”!</translation>
    </message>
    <message>
        <source>不支持的文件格式！</source>
        <translation>Unsupported file format!</translation>
    </message>
    <message>
        <source>请确保输出文件的目录存在！</source>
        <translation>Please make sure the output folder exists!</translation>
    </message>
    <message>
        <source>请先打开欲处理的图像文件！</source>
        <translation>Please open the image files to convert first!</translation>
    </message>
    <message>
        <source>恭喜！处理已全部完成！</source>
        <translation>Done! Every file has been converted!</translation>
    </message>
</context>
</TS>
