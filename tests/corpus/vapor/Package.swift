// swift-tools-version:5.9
import PackageDescription
