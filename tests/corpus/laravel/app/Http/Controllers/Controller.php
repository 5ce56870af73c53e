<?php
namespace App\Http\Controllers;
abstract class Controller {}
