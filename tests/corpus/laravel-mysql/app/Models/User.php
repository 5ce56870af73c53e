<?php
namespace App\Models;
